#pragma once

#include <httplib.h>

#include <QtGlobal>

#include <chrono>
#include <functional>

namespace Tarnwick::Emulator {

// One client connection as cpp-httplib's Stream, with the hooks fault rules need: a byte-rate
// limit, a reset (RST) after a number of request-body or response-body bytes, and closing after
// the current response. Reads are buffered because the library parses headers a byte at a time.
class HttpConnection final : public httplib::Stream
{
public:
    HttpConnection(int fd, std::chrono::milliseconds readTimeout,
                   std::chrono::milliseconds writeTimeout);
    ~HttpConnection() override = default;
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char *ptr, size_t size) override;
    ssize_t write(const char *ptr, size_t size) override;
    void get_remote_ip_and_port(std::string &ip, int &port) const override;
    void get_local_ip_and_port(std::string &ip, int &port) const override;
    socket_t socket() const override { return m_fd; }

    // Waits until a request starts arriving; false on timeout or when stillRunning says stop.
    bool waitForRequest(std::chrono::milliseconds timeout,
                        const std::function<bool()> &stillRunning);
    // Clears the per-request hooks below.
    void beginRequest();

    void setThrottle(qint64 bytesPerSecond);
    // Counted from now over what the library reads (the request body once headers are parsed).
    void resetAfterReadBytes(qint64 bytes);
    // Counted over the response body, after its head.
    void resetAfterResponseBytes(qint64 bytes);
    void resetNow();
    void closeAfterResponse() { m_closeAfterResponse = true; }

    bool isReset() const { return m_reset; }
    bool closeRequested() const { return m_closeAfterResponse; }
    // Total bytes the library consumed from the socket and wrote to it for the current request.
    qint64 bytesRead() const { return m_requestRead; }

private:
    bool pollFor(short events, std::chrono::milliseconds timeout) const;
    void pace(qint64 bytes);
    ssize_t sendAll(const char *ptr, size_t size);
    qint64 bodyBytesIn(const char *ptr, size_t size);

    int m_fd;
    std::chrono::milliseconds m_readTimeout;
    std::chrono::milliseconds m_writeTimeout;
    std::vector<char> m_buffer;
    size_t m_bufferPos = 0;
    size_t m_bufferLen = 0;

    qint64 m_rate = 0;
    std::chrono::steady_clock::time_point m_paceStart;
    qint64 m_pacedBytes = 0;
    qint64 m_readBudget = -1;
    qint64 m_writeBudget = -1;
    bool m_inHead = true;
    int m_headMatch = 0;
    bool m_reset = false;
    bool m_closeAfterResponse = false;
    qint64 m_requestRead = 0;
};

} // namespace Tarnwick::Emulator
