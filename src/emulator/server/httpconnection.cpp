#include "server/httpconnection.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <cstring>

namespace Tarnwick::Emulator {

namespace {

constexpr size_t bufferSize = 256 * 1024;

void addressOf(const sockaddr_storage &addr, std::string &ip, int &port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&addr);
        inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
        port = ntohs(in->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&addr);
        inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
        port = ntohs(in6->sin6_port);
    }
    ip = text;
}

} // namespace

HttpConnection::HttpConnection(int fd, std::chrono::milliseconds readTimeout,
                               std::chrono::milliseconds writeTimeout)
    : m_fd(fd)
    , m_readTimeout(readTimeout)
    , m_writeTimeout(writeTimeout)
    , m_buffer(bufferSize)
{
}

bool HttpConnection::pollFor(short events, std::chrono::milliseconds timeout) const
{
    pollfd p{m_fd, events, 0};
    for (;;) {
        const int r = ::poll(&p, 1, int(timeout.count()));
        if (r < 0 && errno == EINTR)
            continue;
        return r > 0;
    }
}

bool HttpConnection::is_readable() const
{
    if (m_reset)
        return false;
    return m_bufferPos < m_bufferLen || pollFor(POLLIN, m_readTimeout);
}

bool HttpConnection::is_writable() const
{
    return !m_reset && pollFor(POLLOUT, m_writeTimeout);
}

bool HttpConnection::waitForRequest(std::chrono::milliseconds timeout,
                                    const std::function<bool()> &stillRunning)
{
    if (m_bufferPos < m_bufferLen)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (stillRunning()) {
        if (pollFor(POLLIN, std::chrono::milliseconds(50)))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
    }
    return false;
}

void HttpConnection::beginRequest()
{
    m_rate = 0;
    m_readBudget = -1;
    m_writeBudget = -1;
    m_inHead = true;
    m_headMatch = 0;
    m_closeAfterResponse = false;
    m_requestRead = 0;
}

void HttpConnection::setThrottle(qint64 bytesPerSecond)
{
    m_rate = bytesPerSecond;
    m_paceStart = std::chrono::steady_clock::now();
    m_pacedBytes = 0;
}

void HttpConnection::resetAfterReadBytes(qint64 bytes)
{
    m_readBudget = qMax<qint64>(0, bytes);
}

void HttpConnection::resetAfterResponseBytes(qint64 bytes)
{
    m_writeBudget = qMax<qint64>(0, bytes);
}

void HttpConnection::resetNow()
{
    if (m_reset)
        return;
    m_reset = true;
    // With a zero linger the close that ends this connection sends RST instead of FIN.
    linger l{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::shutdown(m_fd, SHUT_RD);
}

void HttpConnection::pace(qint64 bytes)
{
    if (m_rate <= 0)
        return;
    m_pacedBytes += bytes;
    const auto due = m_paceStart + std::chrono::microseconds(m_pacedBytes * 1000000 / m_rate);
    std::this_thread::sleep_until(due);
}

ssize_t HttpConnection::read(char *ptr, size_t size)
{
    if (m_reset || size == 0)
        return m_reset ? -1 : 0;
    if (m_readBudget == 0) {
        resetNow();
        return -1;
    }
    if (m_readBudget > 0)
        size = size_t(qMin<qint64>(qint64(size), m_readBudget));
    if (m_rate > 0)
        size = size_t(qMax<qint64>(1, qMin<qint64>(qint64(size), m_rate / 20)));

    if (m_bufferPos >= m_bufferLen) {
        if (!pollFor(POLLIN, m_readTimeout))
            return -1;
        ssize_t n;
        do {
            n = ::recv(m_fd, m_buffer.data(), m_buffer.size(), 0);
        } while (n < 0 && errno == EINTR);
        if (n <= 0)
            return n;
        m_bufferPos = 0;
        m_bufferLen = size_t(n);
    }
    const size_t n = qMin(size, m_bufferLen - m_bufferPos);
    std::memcpy(ptr, m_buffer.data() + m_bufferPos, n);
    m_bufferPos += n;
    m_requestRead += qint64(n);
    if (m_readBudget > 0)
        m_readBudget -= qint64(n);
    pace(qint64(n));
    return ssize_t(n);
}

qint64 HttpConnection::bodyBytesIn(const char *ptr, size_t size)
{
    if (!m_inHead)
        return qint64(size);
    // Interim 1xx answers are written on their own and are not the head of the response.
    if (m_headMatch == 0 && size >= 10 && std::memcmp(ptr, "HTTP/1.1 1", 10) == 0)
        return 0;
    static const char terminator[] = "\r\n\r\n";
    for (size_t i = 0; i < size; ++i) {
        m_headMatch =
            ptr[i] == terminator[m_headMatch] ? m_headMatch + 1 : (ptr[i] == '\r' ? 1 : 0);
        if (m_headMatch == 4) {
            m_inHead = false;
            return qint64(size - i - 1);
        }
    }
    return 0;
}

ssize_t HttpConnection::sendAll(const char *ptr, size_t size)
{
    size_t done = 0;
    while (done < size) {
        size_t piece = size - done;
        if (m_rate > 0)
            piece = size_t(qMax<qint64>(1, qMin<qint64>(qint64(piece), m_rate / 20)));
        if (!pollFor(POLLOUT, m_writeTimeout))
            return done ? ssize_t(done) : -1;
        const ssize_t n = ::send(m_fd, ptr + done, piece, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return done ? ssize_t(done) : -1;
        }
        done += size_t(n);
        pace(n);
    }
    return ssize_t(done);
}

ssize_t HttpConnection::write(const char *ptr, size_t size)
{
    if (m_reset)
        return -1;
    if (m_writeBudget >= 0) {
        const qint64 body = bodyBytesIn(ptr, size);
        const qint64 head = qint64(size) - body;
        if (body > m_writeBudget) {
            const size_t allowed = size_t(head + m_writeBudget);
            const ssize_t sent = allowed ? sendAll(ptr, allowed) : 0;
            m_writeBudget = 0;
            resetNow();
            return sent > 0 ? sent : -1;
        }
        m_writeBudget -= body;
    }
    return sendAll(ptr, size);
}

void HttpConnection::get_remote_ip_and_port(std::string &ip, int &port) const
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        addressOf(addr, ip, port);
}

void HttpConnection::get_local_ip_and_port(std::string &ip, int &port) const
{
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(m_fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        addressOf(addr, ip, port);
}

} // namespace Tarnwick::Emulator
