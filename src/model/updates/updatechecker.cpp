#include "updates/updatechecker.h"

#include "appinfo.h"
#include "records/decimalinteger.h"
#include "net/endpoints.h"
#include "records/errors.h"
#include "net/httpengine.h"
#include "net/tarnwicknetwork.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace Tarnwick::UpdateChecker {

namespace {

struct Manifest
{
    QString version;
    QString url;
    QString notes;
};

// The members the manifest must have, with the types they must have; others are ignored.
std::optional<Manifest> decode(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue mac = root.value("mac"_L1);
    if (!mac.isObject())
        return std::nullopt;
    const QJsonValue version = mac.toObject().value("version"_L1);
    const QJsonValue url = mac.toObject().value("url"_L1);
    if (!version.isString() || !url.isString())
        return std::nullopt;
    const QJsonValue notes = root.value("notes"_L1);
    if (!notes.isUndefined() && !notes.isNull() && !notes.isString())
        return std::nullopt;
    return Manifest{version.toString(), url.toString(), notes.toString()};
}

QList<qint64> pieces(const QString &version)
{
    QList<qint64> numbers;
    for (const QString &piece : version.split(u'.', Qt::SkipEmptyParts))
        numbers.append(parseDecimalInt64(piece).value_or(0));
    return numbers;
}

} // namespace

QString skippedVersionKey()
{
    return u"update-skipped-version"_s;
}

QUrl manifestURL()
{
    return Endpoints::current().updateManifest;
}

QString userAgent()
{
    return u"Tarnwick-Linux/"_s + AppInfo::version();
}

QCoro::Task<std::optional<AvailableUpdate>> fetch(std::stop_token stop)
{
    return fetch(TarnwickNetwork::session(), std::move(stop));
}

QCoro::Task<std::optional<AvailableUpdate>> fetch(HttpEngine &session, std::stop_token stop)
{
    const QUrl manifest = manifestURL();
    HttpRequest request;
    request.url = manifest;
    request.headers = {{"User-Agent", userAgent().toUtf8()}};
    request.inactivityTimeout = requestTimeout;
    HttpResponse response;
    try {
        auto sending = session.send(std::move(request), stop);
        response = co_await sending;
    } catch (...) {
        // Every failure of a check is silent; the next one comes a day later.
        co_return std::nullopt;
    }
    if (response.status != 200)
        co_return std::nullopt;
    const QVariant skipped = QSettings().value(skippedVersionKey());
    co_return offer(response.body, manifest, AppInfo::version(),
                    skipped.typeId() == QMetaType::QString
                        ? std::optional<QString>(skipped.toString())
                        : std::nullopt);
}

std::optional<AvailableUpdate> offer(const QByteArray &body, const QUrl &manifest,
                                     const QString &running, const std::optional<QString> &skipped)
{
    const std::optional<Manifest> decoded = decode(body);
    if (!decoded)
        return std::nullopt;
    const QUrl url(decoded->url, QUrl::StrictMode);
    if (decoded->url.isEmpty() || !url.isValid())
        return std::nullopt;
    // A download page on another host is never offered, nor one the browser would fetch in
    // clear text (or not over the web at all: file:, javascript:).
    if (url.host() != manifest.host() || !HttpEngine::isAllowedUrl(url))
        return std::nullopt;
    if (!isNewer(decoded->version, running))
        return std::nullopt;
    if (skipped == decoded->version)
        return std::nullopt;
    return AvailableUpdate{decoded->version, url, decoded->notes};
}

bool isNewer(const QString &candidate, const QString &current)
{
    const QList<qint64> a = pieces(candidate);
    const QList<qint64> b = pieces(current);
    for (qsizetype i = 0; i < std::max(a.size(), b.size()); ++i) {
        const qint64 x = i < a.size() ? a.at(i) : 0;
        const qint64 y = i < b.size() ? b.at(i) : 0;
        if (x != y)
            return x > y;
    }
    return false;
}

} // namespace Tarnwick::UpdateChecker
