#include "httpfilesink.h"

#include "errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace Tarnwick {

HttpFileSink::HttpFileSink(const QString &path, Mode mode)
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (mode == Mode::Truncate ? O_TRUNC : 0);
    m_fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    if (m_fd < 0)
        throw SystemError::fromErrno(errno);
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    if (end < 0) {
        const int err = errno;
        ::close(m_fd);
        m_fd = -1;
        throw SystemError::fromErrno(err);
    }
    m_startOffset = end;
}

HttpFileSink::~HttpFileSink()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void HttpFileSink::write(const char *data, qint64 size)
{
    if (m_buffered + size > gatherSize)
        flush();
    if (size >= gatherSize) {
        writeAll(data, size);
    } else {
        if (m_buffer.isEmpty())
            m_buffer = QByteArray(gatherSize, Qt::Uninitialized);
        std::memcpy(m_buffer.data() + m_buffered, data, size_t(size));
        m_buffered += size;
    }
    m_received += size;
}

void HttpFileSink::finish()
{
    if (m_fd < 0)
        return;
    std::exception_ptr error;
    try {
        flush();
    } catch (...) {
        error = std::current_exception();
    }
    const int closed = ::close(m_fd);
    const int closeErrno = errno;
    m_fd = -1;
    if (error)
        std::rethrow_exception(error);
    // Some file systems report a failed write-back only here.
    if (closed < 0 && closeErrno != EINTR)
        throw SystemError::fromErrno(closeErrno);
}

void HttpFileSink::flush()
{
    if (m_buffered == 0)
        return;
    const qsizetype n = m_buffered;
    m_buffered = 0;
    writeAll(m_buffer.constData(), n);
}

void HttpFileSink::writeAll(const char *data, qint64 size)
{
    // After one failed write nothing more is written, so the file always holds a clean prefix of
    // the body (a resumed download continues from its end).
    if (m_failedErrno != 0)
        throw SystemError::fromErrno(m_failedErrno);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_failedErrno = n < 0 ? errno : ENOSPC;
            throw SystemError::fromErrno(m_failedErrno);
        }
        data += n;
        size -= n;
    }
}

} // namespace Tarnwick
