#include "server/exchange.h"

#include "api/apierror.h"
#include "server/httpconnection.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

Exchange::Exchange(const httplib::Request &request, httplib::Response &response,
                   const httplib::ContentReader *reader, HttpConnection *connection)
    : request(request)
    , response(response)
    , connection(connection)
    , m_path(QString::fromStdString(request.path))
    , m_reader(reader)
{
}

QString Exchange::rawQuery() const
{
    const QString t = target();
    const qsizetype q = t.indexOf(u'?');
    return q < 0 ? QString() : t.mid(q + 1);
}

QString Exchange::header(const char *name) const
{
    return QString::fromStdString(request.get_header_value(name));
}

QString Exchange::param(const char *name) const
{
    return QString::fromStdString(request.get_param_value(name));
}

bool Exchange::boolParam(const char *name, bool fallback) const
{
    return optionalBoolParam(name).value_or(fallback);
}

std::optional<bool> Exchange::optionalBoolParam(const char *name) const
{
    if (!request.has_param(name))
        return std::nullopt;
    const QString v = param(name);
    if (v == u"true"_s)
        return true;
    if (v == u"false"_s)
        return false;
    throw ApiError::invalidValue(QString::fromLatin1(name),
                                 u"Invalid value '%1'. Valid values are [true, false]."_s.arg(v));
}

int Exchange::intParam(const char *name, int fallback) const
{
    if (!request.has_param(name))
        return fallback;
    bool ok = false;
    const int n = param(name).toInt(&ok);
    if (!ok)
        throw ApiError::invalidValue(
            QString::fromLatin1(name),
            u"Invalid value '%1'. Values must be integers."_s.arg(param(name)));
    return n;
}

bool Exchange::declaresBody() const
{
    return request.get_header_value<uint64_t>("Content-Length") > 0 ||
           request.has_header("Transfer-Encoding");
}

bool Exchange::streamBody(const std::function<bool(const char *, size_t)> &sink)
{
    if (m_bodyRead || !m_reader)
        return true;
    m_bodyRead = true;
    // Without Content-Length or Transfer-Encoding a request has no body; the library would
    // otherwise wait for the client to close the connection.
    if (!request.has_header("Content-Length") && !request.has_header("Transfer-Encoding"))
        return true;
    return (*m_reader)([&](const char *data, size_t length) {
        m_bodyBytes += qint64(length);
        return sink(data, length);
    });
}

std::optional<QByteArray> Exchange::readBody(qint64 limit)
{
    if (qint64(request.get_header_value<uint64_t>("Content-Length")) > limit) {
        drain();
        return std::nullopt;
    }
    QByteArray body;
    bool tooLarge = false;
    const bool ok = streamBody([&](const char *data, size_t length) {
        if (body.size() + qint64(length) > limit) {
            tooLarge = true;
            return true; // keep reading so the connection stays usable
        }
        body.append(data, qsizetype(length));
        return true;
    });
    if (!ok || tooLarge)
        return std::nullopt;
    return body;
}

void Exchange::drain()
{
    if (m_bodyRead)
        return;
    if (!m_reader) {
        // The library gives GET no body reader: a body there would be read as the next request.
        m_bodyRead = true;
        if (declaresBody()) {
            if (connection)
                connection->closeAfterResponse();
            response.set_header("Connection", "close");
        }
        return;
    }
    // A huge unread body is cheaper to drop with the connection than to read.
    if (request.get_header_value<uint64_t>("Content-Length") > (quint64(64) << 20)) {
        m_bodyRead = true;
        if (connection)
            connection->closeAfterResponse();
        response.set_header("Connection", "close");
        return;
    }
    streamBody([](const char *, size_t) { return true; });
}

void Exchange::send(int status, const QByteArray &body, const QString &contentType)
{
    response.status = status;
    response.set_content(body.constData(), size_t(body.size()), contentType.toStdString());
}

void Exchange::json(int status, const QJsonObject &body)
{
    send(status, QJsonDocument(body).toJson(QJsonDocument::Indented),
         u"application/json; charset=UTF-8"_s);
}

void Exchange::error(const ApiError &error, bool withStatus)
{
    json(error.status, error.envelope(withStatus));
    if (error.status == 401)
        response.set_header("WWW-Authenticate", "Bearer realm=\"https://accounts.google.com/\"");
}

void Exchange::empty(int status)
{
    response.status = status;
    response.body.clear();
}

void Exchange::html(int status, const QString &page)
{
    send(status, page.toUtf8(), u"text/html; charset=utf-8"_s);
}

void Exchange::redirect(const QString &location)
{
    response.status = 302;
    response.set_header("Location", location.toStdString());
    response.body.clear();
}

} // namespace Tarnwick::Emulator
