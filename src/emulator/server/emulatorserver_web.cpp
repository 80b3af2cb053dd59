// EmulatorServer: what a browser or the thumbnail loader fetches without a token.
#include "server/emulatorserver.h"

#include "server/exchange.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

void EmulatorServer::thumbnail(Exchange &ex)
{
    const QString id = ex.path().mid(12).section(u'=', 0, 0);
    const auto png = ex.method() == u"GET"_s ? m_state.thumbnailPng(id) : std::nullopt;
    if (!png) {
        ex.drain();
        return ex.html(
            404, u"<!DOCTYPE html><title>Error 404 (Not Found)</title><p>404. That's an error."_s);
    }
    ex.send(200, *png, u"image/png"_s);
    ex.response.set_header("Cache-Control", "private, max-age=86400");
}

void EmulatorServer::webPage(Exchange &ex, const QString &id)
{
    const auto item = m_state.item(id);
    if (!item)
        return ex.html(404, u"<!DOCTYPE html><title>Google Drive - Not found</title>"
                            "<p>Sorry, the file you have requested does not exist.</p>"_s);
    QString body;
    if (item->isFolder()) {
        body = u"<ul>"_s;
        for (const auto &child : m_state.children(item->id))
            body += u"<li>%1</li>"_s.arg(child.name.toHtmlEscaped());
        body += u"</ul>"_s;
    } else {
        body =
            u"<p>%1 &middot; %2 bytes</p>"_s.arg(item->mimeType.toHtmlEscaped()).arg(item->size());
    }
    ex.html(200,
            u"<!DOCTYPE html><html lang=vi><meta charset=utf-8><title>%1 - Google Drive</title>"
            "<body style='font:16px sans-serif;margin:40px'><h1>%1</h1>%2</body></html>"_s.arg(
                item->name.toHtmlEscaped(), body));
}

void EmulatorServer::manifest(Exchange &ex)
{
    const QByteArray json = m_state.manifest();
    if (json.isEmpty() || ex.method() != u"GET"_s)
        return ex.html(404, u"<!DOCTYPE html><title>404 Not Found</title><h1>Not Found</h1>"_s);
    ex.send(200, json, u"application/json"_s);
    ex.response.set_header("Cache-Control", "public, max-age=300");
}

void EmulatorServer::index(Exchange &ex)
{
    QString users;
    for (const QString &email : m_state.userEmails())
        users += u"<li>%1</li>"_s.arg(email.toHtmlEscaped());
    ex.html(
        200,
        u"<!DOCTYPE html><html lang=en><meta charset=utf-8><title>Tarnwick Drive emulator</title>"
        "<body style='font:16px sans-serif;margin:40px'><h1>Tarnwick Drive emulator</h1>"
        "<p>Serving /drive/v3, /upload/drive/v3, /o/oauth2/v2/auth, /token and "
        "/tarnwick/latest.json.</p><h2>Users</h2><ul>%1</ul></body></html>"_s.arg(users));
}

} // namespace Tarnwick::Emulator
