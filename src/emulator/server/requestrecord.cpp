#include "server/requestrecord.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

QUrlQuery queryOf(const QString &target)
{
    const qsizetype q = target.indexOf(u'?');
    QString raw = q < 0 ? QString() : target.mid(q + 1);
    raw.replace(u'+', u"%20"_s);
    return QUrlQuery(raw);
}

} // namespace

QString RequestRecord::queryValue(const QString &name) const
{
    return queryOf(target).queryItemValue(name, QUrl::FullyDecoded);
}

bool RequestRecord::hasQueryItem(const QString &name) const
{
    return queryOf(target).hasQueryItem(name);
}

QJsonObject RequestRecord::toJson() const
{
    QJsonObject h;
    for (auto it = headers.begin(); it != headers.end(); ++it)
        h.insert(it.key(), it.value());
    QJsonArray f;
    for (int id : faults)
        f.append(id);
    QJsonObject out{{u"sequence"_s, sequence},
                    {u"time"_s, time.toString(Qt::ISODateWithMs)},
                    {u"method"_s, method},
                    {u"target"_s, target},
                    {u"path"_s, path},
                    {u"headers"_s, h},
                    {u"hasAuthorization"_s, hasAuthorization},
                    {u"tokenFingerprint"_s, tokenFingerprint},
                    {u"bodyLength"_s, bodyLength},
                    {u"status"_s, status},
                    {u"responseLength"_s, responseLength},
                    {u"faults"_s, f}};
    if (!limit.isEmpty())
        out.insert(u"limit"_s, limit);
    return out;
}

QString RequestRecord::fingerprintOf(const QString &token)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(token.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

const QStringList &RequestRecord::loggedHeaders()
{
    static const QStringList names{u"range"_s,
                                   u"content-range"_s,
                                   u"content-type"_s,
                                   u"content-length"_s,
                                   u"transfer-encoding"_s,
                                   u"x-upload-content-type"_s,
                                   u"x-upload-content-length"_s,
                                   u"x-guploader-no-308"_s,
                                   u"user-agent"_s,
                                   u"expect"_s,
                                   u"accept-encoding"_s,
                                   u"cache-control"_s,
                                   u"host"_s,
                                   u"connection"_s};
    return names;
}

} // namespace Tarnwick::Emulator
