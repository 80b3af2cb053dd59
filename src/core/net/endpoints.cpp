#include "net/endpoints.h"

#include "net/httpengine.h"

#include <QLoggingCategory>

#include <optional>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

std::optional<Endpoints> &installed()
{
    static std::optional<Endpoints> endpoints;
    return endpoints;
}

int defaultPort(const QString &scheme)
{
    return scheme == u"https"_s ? 443 : scheme == u"http"_s ? 80 : -1;
}

// Same scheme, host and port, default ports filled in.
bool sameOrigin(const QUrl &url, const QUrl &origin)
{
    if (!url.isValid() || !origin.isValid())
        return false;
    const QString scheme = url.scheme().toLower();
    return scheme == origin.scheme().toLower() &&
           url.host().compare(origin.host(), Qt::CaseInsensitive) == 0 &&
           url.port(defaultPort(scheme)) == origin.port(defaultPort(origin.scheme().toLower()));
}

} // namespace

Endpoints Endpoints::defaults()
{
    return Endpoints{
        .authorization = QUrl(u"https://accounts.google.com/o/oauth2/v2/auth"_s),
        .token = QUrl(u"https://oauth2.googleapis.com/token"_s),
        .revocation = QUrl(u"https://oauth2.googleapis.com/revoke"_s),
        .driveScope = u"https://www.googleapis.com/auth/drive"_s,
        .api = QUrl(u"https://www.googleapis.com"_s),
        .driveWeb = QUrl(u"https://drive.google.com"_s),
        .googleDomain = u"google.com"_s,
        .cloudConsole = QUrl(u"https://console.cloud.google.com"_s),
        .updateManifest = QUrl(u"https://tarnwick.app/tarnwick/latest.json"_s),
    };
}

Endpoints Endpoints::withBase(const QUrl &base)
{
    if (!base.isValid() || base.host().isEmpty() || !HttpEngine::isAllowedUrl(base)) {
        qWarning("Ignoring the Google base %s: only https, or http to a loopback host, is allowed",
                 qPrintable(base.toString(QUrl::RemoveUserInfo)));
        return defaults();
    }
    QUrl origin;
    origin.setScheme(base.scheme());
    origin.setHost(base.host());
    origin.setPort(base.port());
    const auto at = [&origin](const QString &path) {
        QUrl url = origin;
        url.setPath(path);
        return url;
    };
    Endpoints endpoints = defaults();
    endpoints.authorization = at(u"/o/oauth2/v2/auth"_s);
    endpoints.token = at(u"/token"_s);
    endpoints.revocation = at(u"/revoke"_s);
    endpoints.api = origin;
    endpoints.driveWeb = origin;
    endpoints.googleDomain = origin.host();
    endpoints.cloudConsole = origin;
    endpoints.updateManifest = at(u"/tarnwick/latest.json"_s);
    return endpoints;
}

Endpoints Endpoints::fromEnvironment()
{
    const QString base = qEnvironmentVariable("TARNWICK_GOOGLE_BASE");
    if (base.isEmpty())
        return defaults();
    return withBase(QUrl(base, QUrl::StrictMode));
}

const Endpoints &Endpoints::current()
{
    auto &endpoints = installed();
    if (!endpoints)
        endpoints = fromEnvironment();
    return *endpoints;
}

void Endpoints::setCurrent(const Endpoints &endpoints)
{
    installed() = endpoints;
}

QUrl Endpoints::apiUrl(const QString &path) const
{
    QUrl url = api;
    url.setPath(path);
    return url;
}

bool Endpoints::isApiEndpoint(const QUrl &url) const
{
    return sameOrigin(url, api);
}

bool Endpoints::isDriveOrigin(const QUrl &url) const
{
    return sameOrigin(url, api) || sameOrigin(url, driveWeb);
}

} // namespace Tarnwick
