// The bytes a local connection sends to the sign-in listener. The verdict rests on the head
// alone; an accepted request is a GET of the callback path
// whose target makes a URL on the listener's own origin.
#include "fuzzsupport.h"

#include "auth/oauthutilities.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;
using Request = OAuthUtilities::LoopbackRequest;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const Request whole = OAuthUtilities::readLoopbackRequest(bytes);

    // Only the head counts: what follows its empty line changes nothing.
    if (whole.kind != Request::Kind::Incomplete) {
        const QByteArray head = bytes.left(bytes.indexOf("\r\n\r\n") + 4);
        check(OAuthUtilities::readLoopbackRequest(head) == whole, "the head alone decides");
    }

    if (whole.kind == Request::Kind::Callback) {
        check(whole.target.startsWith(QStringLiteral("/oauth/callback?")), "only the callback path",
              whole.target);
        check(!whole.target.contains(u' '), "one target", whole.target);
        const QUrl url(QStringLiteral("http://127.0.0.1:5000") + whole.target, QUrl::StrictMode);
        if (url.isValid())
            check(url.host() == QStringLiteral("127.0.0.1") && url.port() == 5000 &&
                      url.path() == QStringLiteral("/oauth/callback"),
                  "the URL stays on the listener", url.toString());
    }
    return 0;
}
