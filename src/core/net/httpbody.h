#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace Tarnwick {

// The bytes a request sends. The engine reads them on its worker thread, as the network library
// asks for them, so a large body never sits in memory whole and the main thread never touches
// the disk for it.
class HttpBody
{
public:
    virtual ~HttpBody() = default;

    // Total bytes, fixed before the request starts (sent as Content-Length).
    virtual qint64 size() const = 0;
    // Copies up to `capacity` bytes starting at `offset` (0 <= offset < size()) into `buffer` and
    // returns how many, at least 1. Worker thread. The engine may read an earlier offset again
    // when the request is re-sent on a fresh connection. Throw a Failure to abort the request
    // with it.
    virtual qint64 read(qint64 offset, char *buffer, qint64 capacity) = 0;
    // Called on the worker thread when a request that sent this body ends, however it ends. The
    // same body may go out again with a later request (a retry): read() after close() starts over.
    virtual void close() {}

    // The given bytes (copied implicitly, so the caller's QByteArray stays untouched).
    static std::shared_ptr<HttpBody> fromBytes(QByteArray bytes);
    // Bytes [offset, offset + length) of the file at `path`. The file is opened on the worker
    // thread at the first read, read with pread, and the pages read are dropped from the page
    // cache afterwards, so uploading a large file does not evict what the desktop has cached.
    // Fails the request with SystemError when the file cannot be opened or read, and with
    // TarnwickError "File đã thay đổi trong lúc tải lên. Hãy thử lại với bản đã lưu xong." when
    // the file ends before the range does.
    static std::shared_ptr<HttpBody> fromFile(QString path, qint64 offset, qint64 length);
};

} // namespace Tarnwick
