#include "browse/itempage.h"

#include "desktop.h"
#include "net/endpoints.h"

#include <QHostAddress>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// Google's pages only: https on Google's web domain or a subdomain. The emulator serves its pages
// over plain http on a loopback host; those count while the endpoints point at it.
bool mayOpen(const QUrl &url)
{
    const Endpoints &endpoints = Endpoints::current();
    const bool emulated = endpoints.driveWeb.scheme() == u"http"_s &&
                          QHostAddress(endpoints.driveWeb.host()).isLoopback();
    const bool secure = url.scheme() == u"https"_s || (emulated && url.scheme() == u"http"_s);
    const QString host = url.host();
    const QString &domain = endpoints.googleDomain;
    return secure && !domain.isEmpty() && (host == domain || host.endsWith(u'.' + domain));
}

} // namespace

void openItemPage(Desktop &desktop, const DriveFile &file)
{
    QUrl url;
    if (file.webViewLink && !file.webViewLink->isEmpty())
        url = QUrl(*file.webViewLink, QUrl::StrictMode);
    if (!url.isValid() || url.isEmpty()) {
        url = Endpoints::current().driveWeb;
        url.setPath(u"/file/d/"_s + file.id + u"/view"_s);
    }
    if (mayOpen(url))
        desktop.openUrl(url);
}

} // namespace Tarnwick
