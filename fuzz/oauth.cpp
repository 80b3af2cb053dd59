// The OAuth client configuration (Google's client JSON and the stored form), the stored tokens,
// and the browser's redirect. A stored form that reads writes back to itself; a code taken from a
// redirect is never empty and only comes with the expected state.
#include "fuzzsupport.h"

#include "auth/googleauth.h"
#include "auth/oauthconfiguration.h"
#include "auth/oauthutilities.h"
#include "drive/decodingerror.h"

#include <QUrlQuery>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t selector = takeSelector(data, size);
    const QByteArray bytes = bytesOf(data, size);
    try {
        switch (selector % 4) {
        case 0: {
            const OAuthConfiguration configuration = OAuthConfiguration::fromGoogleJSON(bytes);
            check(configuration.clientID.endsWith(QStringLiteral(".apps.googleusercontent.com")),
                  "a Google client ID", configuration.clientID);
            check(OAuthConfiguration::fromJsonBytes(configuration.toJsonBytes()) == configuration,
                  "a configuration stores and reads back");
            break;
        }
        case 1: {
            const OAuthConfiguration configuration = OAuthConfiguration::fromJsonBytes(bytes);
            check(OAuthConfiguration::fromJsonBytes(configuration.toJsonBytes()) == configuration,
                  "a stored configuration reads back as itself");
            break;
        }
        case 2: {
            const GoogleAuth::Tokens tokens = GoogleAuth::Tokens::fromJsonBytes(bytes);
            const GoogleAuth::Tokens again = GoogleAuth::Tokens::fromJsonBytes(tokens.toJsonBytes());
            check(again == tokens, "stored tokens read back as themselves",
                  QString::fromUtf8(tokens.toJsonBytes()));
            break;
        }
        case 3: {
            const QUrl url(QStringLiteral("http://127.0.0.1:5000") + QString::fromUtf8(bytes),
                           QUrl::StrictMode);
            const QString code = OAuthUtilities::authorizationCode(url, QStringLiteral("st4te"));
            check(!code.isEmpty(), "a code is never empty");
            check(QUrlQuery(url).allQueryItemValues(QStringLiteral("state")) ==
                      QStringList{QStringLiteral("st4te")},
                  "a code only comes with the expected state", url.toString());
            break;
        }
        }
    } catch (const Failure &) {
    }
    return 0;
}
