#include "net/httpbody.h"

#include "records/errors.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

class BytesBody final : public HttpBody
{
public:
    explicit BytesBody(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
    }

    qint64 size() const override { return m_bytes.size(); }
    qint64 read(qint64 offset, char *buffer, qint64 capacity) override
    {
        const qint64 n = std::min(capacity, m_bytes.size() - offset);
        std::memcpy(buffer, m_bytes.constData() + offset, size_t(n));
        return n;
    }

private:
    const QByteArray m_bytes;
};

class FileRangeBody final : public HttpBody
{
public:
    FileRangeBody(QString path, qint64 offset, qint64 length)
        : m_path(std::move(path))
        , m_offset(offset)
        , m_length(length)
    {
    }
    ~FileRangeBody() override { close(); }

    qint64 size() const override { return m_length; }

    qint64 read(qint64 offset, char *buffer, qint64 capacity) override
    {
        if (m_fd < 0)
            open();
        const qint64 want = std::min(capacity, m_length - offset);
        ssize_t n;
        do {
            n = ::pread(m_fd, buffer, size_t(want), off_t(m_offset + offset));
        } while (n < 0 && errno == EINTR);
        if (n < 0)
            throw SystemError::fromErrno(errno);
        if (n == 0)
            throw TarnwickError(
                u"File đã thay đổi trong lúc tải lên. Hãy thử lại với bản đã lưu xong."_s);
        m_readUpTo = std::max(m_readUpTo, offset + n);
        if (m_readUpTo - m_droppedUpTo >= dropStep)
            dropCache();
        return n;
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        dropCache();
        ::close(m_fd);
        m_fd = -1;
        // A re-sent request reads from the start again; its pages must be dropped too.
        m_readUpTo = m_droppedUpTo = 0;
    }

private:
    static constexpr qint64 dropStep = 8 << 20;

    void open()
    {
        m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            throw SystemError::fromErrno(errno);
        ::posix_fadvise(m_fd, off_t(m_offset), off_t(m_length), POSIX_FADV_SEQUENTIAL);
    }

    // Reading a large file must not push out what the desktop has cached.
    void dropCache()
    {
        if (m_readUpTo > m_droppedUpTo) {
            ::posix_fadvise(m_fd, off_t(m_offset + m_droppedUpTo),
                            off_t(m_readUpTo - m_droppedUpTo), POSIX_FADV_DONTNEED);
            m_droppedUpTo = m_readUpTo;
        }
    }

    const QString m_path;
    const qint64 m_offset;
    const qint64 m_length;
    int m_fd = -1;
    qint64 m_readUpTo = 0;
    qint64 m_droppedUpTo = 0;
};

} // namespace

std::shared_ptr<HttpBody> HttpBody::fromBytes(QByteArray bytes)
{
    return std::make_shared<BytesBody>(std::move(bytes));
}

std::shared_ptr<HttpBody> HttpBody::fromFile(QString path, qint64 offset, qint64 length)
{
    return std::make_shared<FileRangeBody>(std::move(path), offset, length);
}

} // namespace Tarnwick
