#pragma once

#include <QString>
#include <QUrl>

#include <atomic>
#include <memory>
#include <thread>

namespace httplib {
class Server;
}

namespace Tarnwick::Testing {

// A small HTTP server on 127.0.0.1 (its own threads, a port the system picks) for the engine's
// protocol-level tests. Routes:
//   GET  /pattern?size=N[&from=K]   N bytes of Pattern starting at K, with Content-Length
//   GET  /chunked?size=N            the same without Content-Length (chunked)
//   PUT|POST /verify[?from=K]       checks the body against Pattern from K: "<size> ok|bad"
//   PUT  /slow-reader               reads the body 64 KiB every 50 ms, answers "done"
//   GET  /delay?ms=M                answers "late" after M ms
//   GET  /hold?ms=M                 like /delay, counting requests held at once (maxHeld()) and
//                                   in all (holds())
//   GET  /stall?bytes=N             sends its head and N bytes, then nothing until stopped
//   GET  /trickle?pieces=P&ms=M     P pieces of 10 bytes, one every M ms
//   GET  /status?code=C             answers C with a small body and "X-Test: yes"
//   GET  /redirect                  302 to /pattern?size=1
//   ANY  /echo                      answers the method, the request headers and the body size
// Every wait ends early when the server stops.
class TestServer final
{
public:
    TestServer();
    ~TestServer();

    QUrl url(const QString &pathAndQuery) const;
    int port() const { return m_port; }
    int maxHeld() const { return m_maxHeld.load(); }
    int holds() const { return m_holds.load(); }
    void resetCounters();

private:
    bool pause(int ms) const; // false when the server stopped meanwhile

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_held = 0;
    std::atomic<int> m_maxHeld = 0;
    std::atomic<int> m_holds = 0;
};

} // namespace Tarnwick::Testing
