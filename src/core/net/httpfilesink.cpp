#include "net/httpfilesink.h"

#include "records/errors.h"
#include "records/writefully.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace Tarnwick {

namespace {

int openSink(const QString &path, HttpFileSink::Mode mode)
{
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW
                      | (mode == HttpFileSink::Mode::Truncate ? O_TRUNC : 0);
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0644);
    if (fd < 0)
        throw SystemError::fromErrno(errno);
    return fd;
}

} // namespace

// A truncated file ends at 0, so writing from its end is right for both modes.
HttpFileSink::HttpFileSink(const QString &path, Mode mode)
    : HttpFileSink(openSink(path, mode))
{
}

HttpFileSink::HttpFileSink(int descriptor)
    : m_fd(descriptor)
{
    const off_t end = ::lseek(m_fd, 0, SEEK_END);
    if (end < 0) {
        const int err = errno;
        ::close(m_fd);
        m_fd = -1;
        throw SystemError::fromErrno(err);
    }
    m_startOffset = m_end = m_started = m_released = end;
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
    if (size >= gatherSize || (m_buffered == 0 && size >= directSize)) {
        writeAll(data, size);
    } else {
        // The buffer grows with what is gathered: a small body never costs a whole megabyte.
        if (m_buffered + size > m_buffer.size())
            m_buffer.resize(qsizetype(std::min(
                gatherSize, std::max({qint64(2 * m_buffer.size()), 2 * directSize, qint64(m_buffered) + size}))));
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
    m_failedErrno = writeFully(m_fd, data, size);
    if (m_failedErrno != 0)
        throw SystemError::fromErrno(m_failedErrno);
    m_end += size;
    writeBack();
}

void HttpFileSink::writeBack()
{
    // Advice only: a file system without these calls simply keeps the usual page-cache behaviour.
    if (m_end - m_started < writeBehind)
        return;
    ::sync_file_range(m_fd, m_started, m_end - m_started, SYNC_FILE_RANGE_WRITE);
    m_started = m_end;
    // What was started two windows ago has had time to reach the disk: wait for it (this paces
    // the download to the disk, as the kernel's own dirty-page limit would) and drop it from the
    // cache.
    const qint64 upTo = m_started - 2 * writeBehind;
    if (upTo - m_released < writeBehind)
        return;
    const int waited = waitWritten ? waitWritten(m_fd, m_released, upTo - m_released)
                       : ::sync_file_range(m_fd, m_released, upTo - m_released,
                                           SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                               SYNC_FILE_RANGE_WAIT_AFTER) == 0
                           ? 0
                           : errno;
    if (waited != 0 && waited != EINVAL && waited != ESPIPE && waited != ENOSYS) {
        // The disk lost bytes after the last wait, and says so once: a later flush of the file
        // would report nothing. The file is cut back to what was written before, so that a resume
        // continues from bytes that are on the disk, and the request fails.
        ::ftruncate(m_fd, off_t(m_released));
        m_end = m_started = m_released;
        m_failedErrno = waited;
        throw SystemError::fromErrno(waited);
    }
    ::posix_fadvise(m_fd, m_released, upTo - m_released, POSIX_FADV_DONTNEED);
    m_released = upTo;
}

} // namespace Tarnwick
