#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

namespace Tarnwick::Emulator {

// One request as the emulator saw it, for tests that assert what a client sent. Tokens are never
// kept: only whether an Authorization header came and a fingerprint of its token.
struct RequestRecord
{
    qint64 sequence = 0;
    QDateTime time;
    QString method;
    QString target;                 // path and raw query, as received
    QString path;                   // decoded path
    QMap<QString, QString> headers; // lower-case names: range, content-range, content-type, ...
    bool hasAuthorization = false;
    QString tokenFingerprint;  // tokenFingerprint() of the bearer token, if any
    qint64 bodyLength = 0;     // request body bytes received
    int status = 0;            // status answered (0: the connection was reset first)
    qint64 responseLength = 0; // response body length announced
    QList<int> faults;         // ids of the fault rules that fired
    QString limit;             // the limit that refused it (Limits::Refused::limit), if any

    QString header(const QString &name) const { return headers.value(name.toLower()); }
    // The decoded value of a query parameter (empty when absent).
    QString queryValue(const QString &name) const;
    bool hasQueryItem(const QString &name) const;

    QJsonObject toJson() const;
    bool operator==(const RequestRecord &other) const = default;

    // The fingerprint the log keeps for a token: tests compare tokens by it.
    static QString fingerprintOf(const QString &token);
    // The headers the log keeps.
    static const QStringList &loggedHeaders();
};

} // namespace Tarnwick::Emulator
