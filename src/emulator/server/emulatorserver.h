#pragma once

#include "state/emulatorstate.h"
#include "faults/faultrule.h"
#include "faults/limits.h"

#include <httplib.h>

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Tarnwick::Emulator {

class ContentStore;
class Exchange;
class FaultInjector;
class HttpServer;
class RequestLog;

// The HTTP face of the emulator: Google's API host, upload host, OAuth endpoints, the Drive web
// pages it links to, thumbnails and the update manifest, all on one 127.0.0.1 port, run by
// cpp-httplib on its own thread. Every request passes the fault rules and lands in the log;
// control requests go to the handler the owner installs.
class EmulatorServer final
{
public:
    using ControlHandler = std::function<void(Exchange &)>;

    EmulatorServer(EmulatorState &state, const ContentStore &store, FaultInjector &faults,
                   Limits &limits, RequestLog &log);
    ~EmulatorServer();
    EmulatorServer(const EmulatorServer &) = delete;
    EmulatorServer &operator=(const EmulatorServer &) = delete;

    // Binds 127.0.0.1:port (0: any free port) and serves on a thread of its own. Throws
    // std::runtime_error when the port cannot be bound.
    void start(quint16 port);
    void stop();
    bool isRunning() const { return bool(m_thread); }
    quint16 port() const { return m_port; }
    QString baseUrl() const;

    void setControlHandler(ControlHandler handler) { m_control = std::move(handler); }
    void setAutoConsent(bool on) { m_autoConsent = on; }
    bool autoConsent() const { return m_autoConsent; }
    // Prints one line per request to stderr (never a token).
    void setVerbose(bool on) { m_verbose = on; }

private:
    void handle(const httplib::Request &request, httplib::Response &response,
                const httplib::ContentReader *reader);
    void route(Exchange &ex);
    void respondFault(Exchange &ex, const FaultRule &rule);
    void respondLimit(Exchange &ex, const Limits::Refused &refused);
    bool modernErrors(const Exchange &ex) const;
    EmulatorState::Caller caller(Exchange &ex) const;
    std::optional<FieldSelection> fields(const Exchange &ex, const FieldSchema &schema) const;
    QJsonObject jsonBody(Exchange &ex, bool required) const;

    // Drive API
    void driveApi(Exchange &ex);
    void generateIds(Exchange &ex, const EmulatorState::Caller &who);
    void download(Exchange &ex, const EmulatorState::Caller &who, const QString &id);
    // Uploads
    void uploadApi(Exchange &ex);
    void startResumable(Exchange &ex, const EmulatorState::Caller &who);
    void uploadChunk(Exchange &ex, const EmulatorState::Caller &who);
    void uploadWhole(Exchange &ex, const EmulatorState::Caller &who, bool multipart);
    // OAuth
    void authorize(Exchange &ex);
    void approve(Exchange &ex);
    void token(Exchange &ex);
    void revoke(Exchange &ex);
    QString finishAuthorization(const QHash<QString, QString> &params, const QString &email,
                                bool allowed);
    // Web pages, thumbnails, manifest
    void thumbnail(Exchange &ex);
    void webPage(Exchange &ex, const QString &id);
    void manifest(Exchange &ex);
    void index(Exchange &ex);

    EmulatorState &m_state;
    const ContentStore &m_store;
    FaultInjector &m_faults;
    Limits &m_limits;
    RequestLog &m_log;
    std::unique_ptr<HttpServer> m_http;
    std::unique_ptr<std::thread> m_thread;
    quint16 m_port = 0;
    ControlHandler m_control;
    bool m_autoConsent = false;
    bool m_verbose = false;

    struct PendingConsent
    {
        QHash<QString, QString> params;
        QDateTime expires;
    };
    std::mutex m_consentMutex;
    QHash<QString, PendingConsent> m_consents;
};

} // namespace Tarnwick::Emulator
