#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

namespace Tarnwick::Emulator {

struct ApiError;
class HttpConnection;

// One request and its response while a handler works on it: typed access to the query, the body
// (read at most once, streamed or whole, drained if nobody read it) and response helpers.
class Exchange final
{
public:
    Exchange(const httplib::Request &request, httplib::Response &response,
             const httplib::ContentReader *reader, HttpConnection *connection);
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;

    const httplib::Request &request;
    httplib::Response &response;
    HttpConnection *const connection; // null only in unit use

    QString method() const { return QString::fromStdString(request.method); }
    const QString &path() const { return m_path; }
    QString target() const { return QString::fromStdString(request.target); }
    QString rawQuery() const;
    QString header(const char *name) const;
    bool hasParam(const char *name) const { return request.has_param(name); }
    QString param(const char *name) const;
    // "true" or "false"; anything else is a 400 for that parameter.
    bool boolParam(const char *name, bool fallback = false) const;
    std::optional<bool> optionalBoolParam(const char *name) const;
    int intParam(const char *name, int fallback) const;

    // The body, whole. nullopt when it is larger than limit (then it is drained) or the
    // connection broke while reading.
    std::optional<QByteArray> readBody(qint64 limit);
    // Streams the body to sink; false when the sink refused or the connection broke.
    bool streamBody(const std::function<bool(const char *, size_t)> &sink);
    // Reads and discards whatever body nobody read, so the connection can serve the next request.
    void drain();
    bool bodyRead() const { return m_bodyRead; }
    qint64 bodyBytes() const { return m_bodyBytes; }
    bool declaresBody() const;

    void json(int status, const QJsonObject &body);
    void error(const ApiError &error, bool withStatus = true);
    void send(int status, const QByteArray &body, const QString &contentType);
    void empty(int status);
    void html(int status, const QString &page);
    void redirect(const QString &location);

    // Set by fault rules for the handlers that care.
    bool ignoreRange = false;
    qint64 keepBytes = -2; // -2: no fault; -1: half the chunk; else bytes to keep

private:
    QString m_path;
    const httplib::ContentReader *m_reader;
    bool m_bodyRead = false;
    qint64 m_bodyBytes = 0;
};

} // namespace Tarnwick::Emulator
