#include "server/emulatorserver.h"

#include "api/apierror.h"
#include "server/exchange.h"
#include "faults/faultinjector.h"
#include "server/httpconnection.h"
#include "server/httpserver.h"
#include "server/requestlog.h"

#include <QJsonDocument>

#include <cstdio>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

EmulatorServer::EmulatorServer(EmulatorState &state, const ContentStore &store,
                               FaultInjector &faults, Limits &limits, RequestLog &log)
    : m_state(state)
    , m_store(store)
    , m_faults(faults)
    , m_limits(limits)
    , m_log(log)
{
}

EmulatorServer::~EmulatorServer()
{
    stop();
}

QString EmulatorServer::baseUrl() const
{
    return u"http://127.0.0.1:%1"_s.arg(m_port);
}

void EmulatorServer::start(quint16 port)
{
    if (m_thread)
        return;
    m_http = std::make_unique<HttpServer>();
    auto plain = [this](const httplib::Request &req, httplib::Response &res) {
        handle(req, res, nullptr);
    };
    auto withBody = [this](const httplib::Request &req, httplib::Response &res,
                           const httplib::ContentReader &reader) { handle(req, res, &reader); };
    m_http->Get(".*", plain);
    m_http->Options(".*", plain);
    m_http->Post(".*", withBody);
    m_http->Put(".*", withBody);
    m_http->Patch(".*", withBody);
    m_http->Delete(".*", withBody);

    int bound = -1;
    if (port == 0)
        bound = m_http->bind_to_any_port("127.0.0.1");
    else if (m_http->bind_to_port("127.0.0.1", port))
        bound = port;
    if (bound <= 0) {
        m_http.reset();
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    m_port = quint16(bound);
    m_state.setBaseUrl(baseUrl());
    auto ended = std::make_shared<std::atomic<bool>>(false);
    m_thread = std::make_unique<std::thread>([this, ended] {
        m_http->listen_after_bind();
        *ended = true;
    });
    // A stop() before the accept loop runs would be lost, leaving the thread in accept().
    while (!m_http->is_running() && !*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void EmulatorServer::stop()
{
    if (!m_thread)
        return;
    m_http->shutdown();
    m_thread->join();
    m_thread.reset();
    m_http.reset();
}

bool EmulatorServer::modernErrors(const Exchange &ex) const
{
    return !(ex.path().startsWith(u"/upload/"_s) && m_state.settings().legacyUploadErrors);
}

EmulatorState::Caller EmulatorServer::caller(Exchange &ex) const
{
    return m_state.authenticate(ex.header("Authorization"));
}

std::optional<FieldSelection> EmulatorServer::fields(const Exchange &ex,
                                                     const FieldSchema &schema) const
{
    if (!ex.hasParam("fields"))
        return std::nullopt;
    return FieldSelection::parse(ex.param("fields"), schema);
}

QJsonObject EmulatorServer::jsonBody(Exchange &ex, bool required) const
{
    const auto body = ex.readBody(1 << 20);
    if (!body)
        throw ApiError(413, u"requestTooLarge"_s, u"Request Entity Too Large"_s);
    if (body->trimmed().isEmpty()) {
        if (required)
            throw ApiError(400, u"required"_s, u"Required"_s);
        return {};
    }
    if (!ex.header("Content-Type").startsWith(u"application/json"_s, Qt::CaseInsensitive))
        throw ApiError(
            400, u"parseError"_s,
            u"Invalid JSON payload received. The request body needs Content-Type: application/json."_s);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(*body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw ApiError(400, u"parseError"_s, u"Invalid JSON payload received. Unexpected token."_s);
    return doc.object();
}

void EmulatorServer::handle(const httplib::Request &request, httplib::Response &response,
                            const httplib::ContentReader *reader)
{
    HttpConnection *connection = HttpServer::currentConnection();
    Exchange ex(request, response, reader, connection);
    if (ex.path().startsWith(u"/__control/"_s)) {
        try {
            if (m_control)
                m_control(ex);
            else
                ex.empty(404);
        } catch (const ApiError &e) {
            ex.drain();
            ex.error(e);
        } catch (const std::exception &e) {
            ex.drain();
            ex.json(400, QJsonObject{{u"error"_s, QString::fromUtf8(e.what())}});
        }
        ex.drain();
        return;
    }

    RequestRecord record;
    record.time = m_state.now();
    record.method = ex.method();
    record.target = ex.target();
    record.path = ex.path();
    for (const QString &name : RequestRecord::loggedHeaders()) {
        const std::string key = name.toStdString();
        if (request.has_header(key.c_str()))
            record.headers.insert(name,
                                  QString::fromStdString(request.get_header_value(key.c_str())));
    }
    const QString authorization = ex.header("Authorization");
    record.hasAuthorization = !authorization.isEmpty();
    const QString bearer = authorization.section(u' ', 1).trimmed();
    if (!bearer.isEmpty())
        record.tokenFingerprint = RequestRecord::fingerprintOf(bearer);

    std::optional<FaultRule> before, after;
    bool resetAfterBody = false;
    for (const FaultRule &rule : m_faults.match(ex.method(), ex.path(), ex.rawQuery())) {
        record.faults.append(rule.id);
        switch (rule.action) {
        case FaultRule::Action::Delay:
            std::this_thread::sleep_for(rule.delay);
            break;
        case FaultRule::Action::Throttle:
            if (connection)
                connection->setThrottle(rule.bytesPerSecond);
            break;
        case FaultRule::Action::ExpireToken:
            m_state.expireAccessToken(bearer);
            break;
        case FaultRule::Action::ExpireSession:
            m_state.expireUploadSession(ex.param("upload_id"), rule.status == 410 ? 410 : 404);
            break;
        case FaultRule::Action::IgnoreRange:
            ex.ignoreRange = true;
            break;
        case FaultRule::Action::KeepFewer:
            ex.keepBytes = rule.bytes < 0 ? -1 : rule.bytes;
            break;
        case FaultRule::Action::ResetRequest:
            if (!connection)
                break;
            if (ex.declaresBody() && rule.bytes > 0)
                connection->resetAfterReadBytes(rule.bytes);
            else
                connection->resetNow();
            resetAfterBody = true;
            break;
        case FaultRule::Action::ResetResponse:
            if (connection)
                connection->resetAfterResponseBytes(rule.bytes);
            break;
        case FaultRule::Action::Status:
            if (rule.afterHandler && !after)
                after = rule;
            else if (!rule.afterHandler && !before)
                before = rule;
            break;
        }
    }

    // Google's limits look at requests a user makes; a request without a valid token answers
    // 401 and spends no one's budget.
    std::optional<Limits::Refused> refused;
    QString limitedUser;
    bool countsUploadBytes = false;
    if (!before && m_limits.active()) {
        const auto kind = Limits::classify(ex.method(), ex.path(), ex.hasParam("upload_id"));
        if (kind) {
            try {
                limitedUser = m_state.authenticate(authorization).email;
            } catch (const ApiError &) {
            }
        }
        if (!limitedUser.isEmpty()) {
            Limits::Request lr{limitedUser, *kind, -1};
            const auto announced = [&](const char *name) {
                bool ok = false;
                const qint64 n = ex.header(name).toLongLong(&ok);
                return ok && n >= 0 ? n : qint64(-1);
            };
            const bool uploadHost = ex.path().startsWith(u"/upload/"_s);
            if (*kind == Limits::Kind::Upload) {
                lr.uploadBytes = announced("Content-Length");
                countsUploadBytes = true;
            } else if (*kind == Limits::Kind::Creation && uploadHost) {
                // A session's open announces the upload; its bytes count as its chunks land.
                if (ex.param("uploadType") == u"resumable"_s) {
                    lr.uploadBytes = announced("X-Upload-Content-Length");
                } else {
                    lr.uploadBytes = announced("Content-Length");
                    countsUploadBytes = true;
                }
            }
            refused = m_limits.admit(lr);
            if (refused)
                record.limit = refused->limit;
        }
    }

    if (!connection || !connection->isReset()) {
        if (before) {
            ex.drain();
            respondFault(ex, *before);
        } else if (refused) {
            ex.drain();
            respondLimit(ex, *refused);
        } else {
            try {
                route(ex);
            } catch (const ApiError &e) {
                ex.drain();
                ex.error(e, modernErrors(ex));
            } catch (const std::exception &) {
                ex.drain();
                ex.error(ApiError(500, u"backendError"_s, u"Backend Error"_s), modernErrors(ex));
            }
            ex.drain();
            const int status = ex.response.status;
            if (countsUploadBytes && (status == 200 || status == 201 || status == 308))
                m_limits.uploaded(limitedUser, ex.bodyBytes());
            if (after)
                respondFault(ex, *after);
        }
        // A reset meant for later in a body the request did not have: the request took effect,
        // its answer is lost.
        if (resetAfterBody && connection)
            connection->resetNow();
    }
    if (!response.has_header("Server"))
        response.set_header("Server", ex.path().startsWith(u"/upload/"_s) ? "UploadServer" : "ESF");
    record.bodyLength = ex.bodyBytes();
    record.status = connection && connection->isReset() ? 0 : response.status;
    record.responseLength =
        response.body.empty() ? qint64(response.content_length_) : qint64(response.body.size());
    const qint64 sequence = m_log.append(record);
    if (m_verbose) {
        std::fprintf(stderr, "%lld %s %s -> %d\n", static_cast<long long>(sequence),
                     qPrintable(record.method), qPrintable(record.path), record.status);
        std::fflush(stderr);
    }
}

void EmulatorServer::respondFault(Exchange &ex, const FaultRule &rule)
{
    const std::string version = ex.response.version;
    ex.response = httplib::Response();
    ex.response.version = version;
    if (rule.body.isEmpty()) {
        ApiError e;
        e.status = rule.status;
        switch (rule.status) {
        case 400:
            e.reason = u"badRequest"_s, e.message = u"Bad Request"_s;
            break;
        case 401:
            e = ApiError::invalidCredentials();
            break;
        case 403:
            e.reason = u"forbidden"_s, e.message = u"Forbidden"_s;
            break;
        case 404:
            e.reason = u"notFound"_s, e.message = u"Not Found"_s;
            break;
        case 410:
            e.reason = u"gone"_s, e.message = u"Gone"_s;
            break;
        case 429:
            e.domain = u"usageLimits"_s, e.reason = u"rateLimitExceeded"_s,
            e.message = u"Rate Limit Exceeded"_s;
            break;
        case 502:
            e.reason = u"badGateway"_s, e.message = u"Bad Gateway"_s;
            break;
        case 503:
            e.reason = u"backendError"_s, e.message = u"Service Unavailable"_s;
            break;
        case 504:
            e.reason = u"timeout"_s, e.message = u"Gateway Timeout"_s;
            break;
        default:
            e.reason = u"backendError"_s, e.message = u"Backend Error"_s;
            break;
        }
        ex.error(e, modernErrors(ex));
    } else {
        ex.send(rule.status, rule.body,
                rule.contentType.isEmpty() ? u"application/json; charset=UTF-8"_s
                                           : rule.contentType);
    }
    for (const auto &[name, value] : rule.headers)
        ex.response.set_header(name.toStdString(), value.toStdString());
}

void EmulatorServer::respondLimit(Exchange &ex, const Limits::Refused &refused)
{
    if (refused.html.isEmpty())
        ex.error(refused.error, modernErrors(ex));
    else
        ex.send(refused.error.status, refused.html, u"text/html; charset=UTF-8"_s);
    if (refused.retryAfterSeconds)
        ex.response.set_header("Retry-After", std::to_string(*refused.retryAfterSeconds));
}

void EmulatorServer::route(Exchange &ex)
{
    const QString &path = ex.path();
    if (path.startsWith(u"/drive/v3/"_s))
        return driveApi(ex);
    if (path.startsWith(u"/upload/drive/v3/"_s))
        return uploadApi(ex);
    if (path == u"/o/oauth2/v2/auth"_s && ex.method() == u"GET"_s)
        return authorize(ex);
    if (path == u"/o/oauth2/v2/auth/approval"_s && ex.method() == u"POST"_s)
        return approve(ex);
    if (path == u"/token"_s)
        return token(ex);
    if (path == u"/revoke"_s || path == u"/o/oauth2/revoke"_s)
        return revoke(ex);
    if (path == u"/tarnwick/latest.json"_s)
        return manifest(ex);
    if (path.startsWith(u"/thumbnails/"_s))
        return thumbnail(ex);
    static const QRegularExpression page(
        u"^/(?:file/d|document/d|spreadsheets/d|presentation/d|drive/folders)/([A-Za-z0-9_-]+)(?:/(?:view|edit))?$"_s);
    if (const auto m = page.match(path); m.hasMatch() && ex.method() == u"GET"_s)
        return webPage(ex, m.captured(1));
    if (path == u"/uc"_s && ex.method() == u"GET"_s)
        return webPage(ex, ex.param("id"));
    if (path == u"/"_s && ex.method() == u"GET"_s)
        return index(ex);
    ex.drain();
    ex.html(404,
            u"<!DOCTYPE html><title>Error 404 (Not Found)</title><p><b>404.</b> That's an error."
            "<p>The requested URL was not found on this server.</p>"_s);
}

} // namespace Tarnwick::Emulator
