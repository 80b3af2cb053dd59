#pragma once

#include "net/httpsink.h"

#include <QString>

#include <functional>

namespace Tarnwick {

// Streams a response body into a file, gathering the network's small pieces into up to 1 MiB
// before each write(); a large piece arriving with nothing gathered is written as it is. Written bytes go to disk as they come (write-back is started every
// writeBehind bytes) and leave the page cache once on disk, so a large download neither evicts
// what the desktop has cached nor leaves gigabytes to flush at the end. A write failure (disk
// full, or a write-back the disk lost) aborts the request with SystemError carrying the system's
// text. finish() writes what is
// gathered and closes the file; cancelled and failed requests keep every byte that arrived.
class HttpFileSink final : public HttpSink
{
public:
    enum class Mode {
        Truncate, // the file is created or emptied; the body starts at byte 0
        Append,   // the body goes after the file's present bytes (a resumed download)
    };

    static constexpr qint64 gatherSize = 1 << 20;
    static constexpr qint64 directSize = 64 << 10;
    static constexpr qint64 writeBehind = 8 << 20;

    // Opens (creating with mode 0644 when missing) the file, never through a symbolic link;
    // throws SystemError.
    HttpFileSink(const QString &path, Mode mode);
    // Takes over an open file descriptor and appends after its present end; throws SystemError
    // (the descriptor is closed then too).
    explicit HttpFileSink(int descriptor);
    ~HttpFileSink() override;
    HttpFileSink(const HttpFileSink &) = delete;
    HttpFileSink &operator=(const HttpFileSink &) = delete;

    void write(const char *data, qint64 size) override;
    void finish() override;
    qint64 startOffset() const override { return m_startOffset; }

    // Body bytes accepted so far (some may still be gathered, not yet written).
    qint64 received() const { return m_received; }
    // The open file, until finish().
    int descriptor() const { return m_fd; }

    // Waits until the file's bytes [from, from + size) are written and reports a write-back
    // failure of the file: 0 or an errno. Empty: sync_file_range(). Tests put in one that fails.
    static inline std::function<int(int fd, qint64 from, qint64 size)> waitWritten;

private:
    void flush();
    void writeAll(const char *data, qint64 size);
    void writeBack();

    int m_fd = -1;
    int m_failedErrno = 0;
    qint64 m_startOffset = 0;
    qint64 m_received = 0;
    qint64 m_end = 0;      // file offset after the last write
    qint64 m_started = 0;  // write-back asked for up to here
    qint64 m_released = 0; // on disk and out of the page cache up to here
    QByteArray m_buffer;
    qsizetype m_buffered = 0;
};

} // namespace Tarnwick
