#include "testserver.h"

#include "pattern.h"

#include <httplib.h>

#include <chrono>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Tarnwick::Testing {

namespace {

long long param(const httplib::Request &request, const char *name, long long fallback)
{
    return request.has_param(name) ? std::stoll(request.get_param_value(name)) : fallback;
}

} // namespace

TestServer::TestServer()
    : m_server(std::make_unique<httplib::Server>())
{
    httplib::Server &server = *m_server;
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(1000);
    server.set_payload_max_length(size_t(1) << 40);
    server.new_task_queue = [] { return new httplib::ThreadPool(24); };

    server.Get("/pattern", [](const httplib::Request &request, httplib::Response &response) {
        const auto size = size_t(param(request, "size", 0));
        const auto from = param(request, "from", 0);
        if (size == 0) {
            response.set_content("", "application/octet-stream");
            return;
        }
        response.set_content_provider(
            size, "application/octet-stream",
            [from](size_t offset, size_t length, httplib::DataSink &sink) {
                std::string piece(std::min<size_t>(length, 256 << 10), '\0');
                Pattern::instance().fill(from + qint64(offset), piece.data(), qint64(piece.size()));
                return sink.write(piece.data(), piece.size());
            });
    });
    server.Get("/chunked", [](const httplib::Request &request, httplib::Response &response) {
        const auto size = size_t(param(request, "size", 0));
        response.set_chunked_content_provider(
            "application/octet-stream", [size](size_t offset, httplib::DataSink &sink) {
                if (offset >= size) {
                    sink.done();
                    return true;
                }
                std::string piece(std::min<size_t>(size - offset, 100000), '\0');
                Pattern::instance().fill(qint64(offset), piece.data(), qint64(piece.size()));
                return sink.write(piece.data(), piece.size());
            });
    });
    const auto verify = [](const httplib::Request &request, httplib::Response &response,
                           const httplib::ContentReader &reader) {
        const qint64 from = param(request, "from", 0);
        qint64 size = 0;
        bool good = true;
        reader([&](const char *data, size_t length) {
            good = good && Pattern::instance().matches(from + size, data, qint64(length));
            size += qint64(length);
            return true;
        });
        response.set_content(std::to_string(size) + (good ? " ok" : " bad"), "text/plain");
    };
    server.Put("/verify", verify);
    server.Post("/verify", verify);
    server.Put("/slow-reader", [this](const httplib::Request &, httplib::Response &response,
                                      const httplib::ContentReader &reader) {
        size_t sinceNap = 0;
        reader([&](const char *, size_t length) {
            sinceNap += length;
            if (sinceNap >= (64 << 10)) {
                sinceNap = 0;
                return pause(50);
            }
            return true;
        });
        response.set_content("done", "text/plain");
    });
    server.Get("/delay", [this](const httplib::Request &request, httplib::Response &response) {
        pause(int(param(request, "ms", 0)));
        response.set_content("late", "text/plain");
    });
    server.Get("/hold", [this](const httplib::Request &request, httplib::Response &response) {
        ++m_holds;
        const int held = ++m_held;
        int seen = m_maxHeld.load();
        while (held > seen && !m_maxHeld.compare_exchange_weak(seen, held)) {
        }
        pause(int(param(request, "ms", 0)));
        --m_held;
        response.set_content("held", "text/plain");
    });
    server.Get("/stall", [this](const httplib::Request &request, httplib::Response &response) {
        const auto bytes = size_t(param(request, "bytes", 0));
        response.set_chunked_content_provider(
            "application/octet-stream", [this, bytes](size_t offset, httplib::DataSink &sink) {
                if (offset < bytes) {
                    const std::string piece(bytes - offset, 'x');
                    return sink.write(piece.data(), piece.size());
                }
                while (pause(50)) {
                }
                return false;
            });
    });
    server.Get("/trickle", [this](const httplib::Request &request, httplib::Response &response) {
        const auto pieces = size_t(param(request, "pieces", 1));
        const int ms = int(param(request, "ms", 100));
        response.set_chunked_content_provider(
            "application/octet-stream", [this, pieces, ms](size_t offset, httplib::DataSink &sink) {
                if (offset >= pieces * 10) {
                    sink.done();
                    return true;
                }
                if (offset > 0 && !pause(ms))
                    return false;
                return sink.write("0123456789", 10);
            });
    });
    server.Get("/status", [](const httplib::Request &request, httplib::Response &response) {
        response.status = int(param(request, "code", 200));
        response.set_header("X-Test", "yes");
        response.set_content("status body", "text/plain");
    });
    server.Get("/redirect", [](const httplib::Request &, httplib::Response &response) {
        response.set_redirect("/pattern?size=1");
    });
    const auto echo = [](const httplib::Request &request, httplib::Response &response,
                         const httplib::ContentReader &reader) {
        size_t size = 0;
        reader([&](const char *, size_t length) {
            size += length;
            return true;
        });
        std::string text = "method=" + request.method + "\n";
        for (const auto &[name, value] : request.headers)
            text += name + ": " + value + "\n";
        text += "body=" + std::to_string(size) + "\n";
        response.set_content(text, "text/plain");
    };
    server.Post("/echo", echo);
    server.Put("/echo", echo);
    server.Patch("/echo", echo);
    server.Delete("/echo", echo);
    server.Get("/echo", [](const httplib::Request &request, httplib::Response &response) {
        std::string text = "method=" + request.method + "\n";
        for (const auto &[name, value] : request.headers)
            text += name + ": " + value + "\n";
        response.set_content(text, "text/plain");
    });

    m_port = server.bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("test server: cannot bind");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer()
{
    m_stopping = true;
    m_server->stop();
    m_thread.join();
}

QUrl TestServer::url(const QString &pathAndQuery) const
{
    return QUrl(u"http://127.0.0.1:%1%2"_s.arg(m_port).arg(pathAndQuery));
}

void TestServer::resetCounters()
{
    m_maxHeld = 0;
    m_holds = 0;
}

bool TestServer::pause(int ms) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (m_stopping)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return !m_stopping;
}

} // namespace Tarnwick::Testing
