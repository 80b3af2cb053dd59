#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>

namespace Tarnwick::Emulator {

// One injected fault: which requests it matches, how often it fires and what it does. Control
// requests (under /__control/) never match.
struct FaultRule
{
    enum class Action {
        Status,        // answer `status` with `body` (Google's envelope when empty)
        ResetRequest,  // reset the connection after `bytes` bytes of the request body
        ResetResponse, // reset the connection after `bytes` bytes of the response body
        IgnoreRange,   // serve a download whole (200) even when a Range was asked for
        KeepFewer, // keep only `bytes` bytes of an upload chunk (negative: half, in 256 KiB units)
        ExpireSession, // the request's upload session has expired (404 from now on)
        ExpireToken,   // the request's bearer token has expired (401 from now on)
        Delay,         // wait `delay` before handling
        Throttle,      // move the request and response bodies at `bytesPerSecond`
    };

    int id = 0;     // given by addFault
    QString method; // empty: any method
    QString path;   // regular expression searched in the path; empty: any path
    QString query;  // text the raw query string must contain; empty: any query
    int times = 1;  // how many times it fires; 0: every time
    int skip = 0;   // matching requests let through before it starts firing
    double probability = 1.0;

    Action action = Action::Status;
    int status = 503;
    QByteArray body;
    QString contentType;                          // default "application/json; charset=UTF-8"
    QList<QPair<QByteArray, QByteArray>> headers; // extra response headers, e.g. Retry-After
    bool afterHandler = false; // Status: let the request take effect, then answer the status
    qint64 bytes = 0;
    std::chrono::milliseconds delay{0};
    qint64 bytesPerSecond = 0;

    static FaultRule respond(int status, QString method = {}, QString path = {});
    // Google's own error envelope with this reason and message.
    static FaultRule respondError(int status, const QString &reason, const QString &message,
                                  QString method = {}, QString path = {});
    // An HTML page instead of JSON, as Google's front ends sometimes send (429, 502).
    static FaultRule respondHtml(int status, QString method = {}, QString path = {});
    static FaultRule resetRequestAfter(qint64 bytes, QString method = {}, QString path = {});
    static FaultRule resetResponseAfter(qint64 bytes, QString method = {}, QString path = {});
    static FaultRule ignoreRange(QString path = {});
    static FaultRule keepFewer(qint64 bytes = -1, QString path = {});
    static FaultRule expireSession(QString method = {}, QString path = {});
    static FaultRule expireToken(QString method = {}, QString path = {});
    static FaultRule delayBy(std::chrono::milliseconds delay, QString method = {},
                             QString path = {});
    static FaultRule throttle(qint64 bytesPerSecond, QString method = {}, QString path = {});

    QJsonObject toJson() const;
    // Throws std::invalid_argument for an unknown action or malformed member.
    static FaultRule fromJson(const QJsonObject &json);

    bool operator==(const FaultRule &other) const = default;
};

} // namespace Tarnwick::Emulator
