// DriveClient: multipart and resumable uploads.
#include "drive/driveclient.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "net/endpoints.h"
#include "records/uploadutilities.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeDatabase>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

constexpr qint64 multipartLimit = 5'242'880;
constexpr qint64 chunkSize = 8'388'608;

QString sizeChangedMessage()
{
    return u"File đã thay đổi trong lúc tải lên. Hãy thử lại với bản đã lưu xong."_s;
}

// Progress that never goes back: a failed request may have counted bytes the server then did not
// keep, and the queue's speed meter must not see the count drop. A figure already reported is not
// reported again (the engine reports once more when the answer arrives, and a 308 confirms what
// the last report already said), so each request reports at most once per interval plus its end.
DriveClient::Progress forwardOnly(DriveClient::Progress progress)
{
    if (!progress)
        return {};
    auto highest = std::make_shared<qint64>(-1);
    return [progress = std::move(progress), highest](qint64 done, qint64 total) {
        if (done <= *highest)
            return;
        *highest = done;
        progress(done, total);
    };
}

QString contentType(const QString &file)
{
    // Only the extension decides, and a leading dot does not start one (".profile" has none).
    const QString name = QFileInfo(file).fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1 || name.left(dot).count(u'.') == dot)
        return u"application/octet-stream"_s;
    static const QMimeDatabase database;
    const QList<QMimeType> types = database.mimeTypesForFileName(u"x."_s + name.mid(dot + 1));
    return types.isEmpty() ? u"application/octet-stream"_s : types.first().name();
}

QByteArray metadataJson(const QString &file, const QString &parent, const QString &id)
{
    QJsonObject metadata{{"name"_L1, QFileInfo(file).fileName()},
                         {"parents"_L1, QJsonArray{parent}}};
    if (!id.isEmpty())
        metadata.insert("id"_L1, id);
    return QJsonDocument(metadata).toJson(QJsonDocument::Compact);
}

// Reads the whole file, at most one byte more than expected so that growth shows.
QByteArray readWhole(const QString &file, qint64 expected)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError::fromErrno(errno);
    QByteArray bytes(expected + 1, Qt::Uninitialized);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            throw SystemError::fromErrno(err);
        }
        if (n == 0)
            break;
        done += n;
    }
    ::close(fd);
    if (done != expected)
        throw TarnwickError(sizeChangedMessage());
    bytes.truncate(done);
    return bytes;
}

std::optional<QString> rangeOf(const HttpResponse &response)
{
    if (!response.hasHeader("Range"))
        return std::nullopt;
    return QString::fromLatin1(response.header("Range"));
}

// Google no longer knows the upload session.
bool isSessionGone(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DriveAPIError &e) {
        return e.status() == 404 || e.status() == 410;
    } catch (...) {
        return false;
    }
}

QByteArray contentRange(qint64 first, qint64 last, qint64 total)
{
    return "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last) + '/' +
           QByteArray::number(total);
}

DriveClient::Query uploadQuery(const QString &type)
{
    return {{u"uploadType"_s, type},
            {u"supportsAllDrives"_s, u"true"_s},
            {u"fields"_s, DriveClient::itemFields}};
}

} // namespace

QCoro::Task<DriveFile> DriveClient::upload(QString file, QString parent,
                                           std::optional<UploadSession> resume,
                                           SessionHandler onSession, Progress progress,
                                           std::stop_token stop, QString id) const
{
    if (!id.isEmpty())
        checkItemID(id);
    // Off the main thread: the disk may be busy flushing other transfers.
    auto looking = runInBackground<struct stat>([file] {
        struct stat found;
        if (::lstat(QFile::encodeName(file).constData(), &found) != 0)
            throw SystemError::fromErrno(errno);
        return found;
    });
    const struct stat info = co_await looking;
    if (S_ISLNK(info.st_mode) || !S_ISREG(info.st_mode))
        throw TarnwickError(u"Chỉ tải lên file thông thường; liên kết tượng trưng được bỏ qua."_s);
    const qint64 size = qint64(info.st_size);
    // Milliseconds, the precision a kept session stores.
    const QDateTime modified = QDateTime::fromMSecsSinceEpoch(
        qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1'000'000, Qt::UTC);

    std::optional<DriveAPIError> conflict;
    try {
        co_return co_await uploadAnyForm(file, parent, resume, onSession, progress, size, modified,
                                         id, stop);
    } catch (const DriveAPIError &e) {
        // Taken: an earlier attempt with this ID got through, only its answer never came.
        if (id.isEmpty() || e.status() != 409)
            throw;
        conflict = e;
    }
    const DriveFile item = co_await itemOfTakenID(*conflict, id, parent, false, size, stop);
    if (progress)
        progress(size, size);
    co_return item;
}

QCoro::Task<DriveFile> DriveClient::uploadAnyForm(QString file, QString parent,
                                                  std::optional<UploadSession> resume,
                                                  SessionHandler onSession, Progress progress,
                                                  qint64 size, QDateTime modified, QString id,
                                                  std::stop_token stop) const
{
    // A session Google forgets while bytes go up (404, 410) is replaced by a new one once per
    // file; a saved session found gone before anything is sent does not count.
    bool mayRestart = true;
    if (resume && resume->size == size && resume->modified == modified && size > 0) {
        std::optional<DriveFile> done;
        std::exception_ptr failure;
        try {
            done = co_await continueResumable(*resume, file, size, forwardOnly(progress), stop);
        } catch (...) {
            failure = std::current_exception();
        }
        if (failure) {
            throwIfStopped(stop);
            if (!isSessionGone(failure))
                std::rethrow_exception(failure);
            mayRestart = false;
        }
        if (done)
            co_return *done;
    }

    const QString mime = contentType(file);
    // A refused multipart upload made nothing, so it goes again after the limit's wait; after any
    // other transient failure the file goes by a session, which can be asked what arrived.
    for (int refusals = 0; size >= 1 && size <= multipartLimit;) {
        std::exception_ptr failure;
        try {
            co_return co_await uploadMultipart(file, parent, size, mime, id,
                                               forwardOnly(progress), stop);
        } catch (...) {
            failure = std::current_exception();
        }
        throwIfStopped(stop);
        if (co_await waitOutRateLimit(refusals, failure, stop))
            continue;
        if (!isRetryable(failure))
            std::rethrow_exception(failure);
        break;
    }
    co_return co_await uploadResumable(file, parent, size, mime, modified, id, onSession,
                                       forwardOnly(progress), mayRestart, stop);
}

QCoro::Task<DriveFile> DriveClient::uploadMultipart(QString file, QString parent, qint64 total,
                                                    QString mime, QString id, Progress progress,
                                                    std::stop_token stop) const
{
    const QByteArray boundary =
        "tarnwick-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
    // Named first: g++ 12 destroys a lambda temporary inside a co_await expression twice.
    auto reading = runInBackground<QByteArray>([file, total] { return readWhole(file, total); });
    const QByteArray content = co_await reading;
    throwIfStopped(stop);

    QByteArray body;
    body.reserve(content.size() + 512);
    body += "--" + boundary + "\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n";
    body += metadataJson(file, parent, id);
    body += "\r\n--" + boundary + "\r\nContent-Type: " + mime.toUtf8() + "\r\n\r\n";
    body += content;
    body += "\r\n--" + boundary + "--\r\n";

    HttpRequest request =
        apiRequest("POST", u"/upload/drive/v3/files"_s, uploadQuery(u"multipart"_s));
    request.headers.emplaceBack("Content-Type", "multipart/related; boundary=" + boundary);
    request.body = HttpBody::fromBytes(std::move(body));
    if (progress)
        progress(0, total);
    const QList<int> accepted{200, 201};
    const HttpResponse response =
        co_await authorizedUpload(std::move(request), accepted, total, 0, progress, stop);
    co_return DriveFile::fromJsonBytes(response.body);
}

QCoro::Task<DriveFile> DriveClient::uploadResumable(QString file, QString parent, qint64 total,
                                                    QString mime, QDateTime modified, QString id,
                                                    SessionHandler onSession, Progress progress,
                                                    bool mayRestart, std::stop_token stop) const
{
    for (;;) {
        HttpRequest request =
            apiRequest("POST", u"/upload/drive/v3/files"_s, uploadQuery(u"resumable"_s));
        request.headers.emplaceBack("Content-Type", "application/json; charset=utf-8");
        request.headers.emplaceBack("X-Upload-Content-Type", mime.toUtf8());
        request.headers.emplaceBack("X-Upload-Content-Length", QByteArray::number(total));
        request.body = HttpBody::fromBytes(metadataJson(file, parent, id));
        // An open sent twice leaves one unused session behind, never a second item: the item is
        // made only when its last byte arrives.
        const HttpResponse opened = co_await retrying(std::move(request), defaultAccepted(), stop);

        // The session URL will carry the token: only the configured API endpoint may have it.
        const QUrl location(QString::fromUtf8(opened.header("Location")), QUrl::StrictMode);
        if (!opened.hasHeader("Location") || location.isRelative() ||
            !Endpoints::current().isApiEndpoint(location))
            throw TarnwickError(u"Google chưa tạo được phiên tải lên hợp lệ."_s);
        if (onSession)
            onSession(UploadSession{location, total, modified});
        std::exception_ptr failure;
        try {
            co_return co_await sendResumable(location, file, total, mime, 0, progress, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        throwIfStopped(stop);
        // Google's documented recovery for a session it no longer knows is a new session from
        // the first byte. A reserved ID keeps the new one from making a second item.
        if (!mayRestart || !isSessionGone(failure))
            std::rethrow_exception(failure);
        mayRestart = false;
    }
}

QCoro::Task<std::optional<DriveFile>> DriveClient::continueResumable(UploadSession session,
                                                                     QString file, qint64 total,
                                                                     Progress progress,
                                                                     std::stop_token stop) const
{
    if (!Endpoints::current().isApiEndpoint(session.url))
        co_return std::nullopt;
    HttpResponse status;
    std::exception_ptr failure;
    bool gone = false;
    try {
        status = co_await askUploadStatus(session.url, total, true, stop);
    } catch (const DriveAPIError &e) {
        gone = e.status() == 404 || e.status() == 410;
        failure = std::current_exception();
    } catch (...) {
        failure = std::current_exception();
    }
    if (gone)
        co_return std::nullopt;
    if (failure)
        std::rethrow_exception(failure);

    if (status.status == 200 || status.status == 201)
        co_return DriveFile::fromJsonBytes(status.body);
    const qint64 offset = UploadUtilities::confirmedOffset(rangeOf(status), total);
    // Every byte is there, yet Google did not finish the item: nothing is left to send.
    if (offset >= total)
        throw TarnwickError(u"Google chưa xác nhận hoàn tất file."_s);
    co_return co_await sendResumable(session.url, file, total, contentType(file), offset, progress,
                                     stop);
}

QCoro::Task<DriveFile> DriveClient::sendResumable(QUrl url, QString file, qint64 total,
                                                  QString mime, qint64 offset, Progress progress,
                                                  std::stop_token stop) const
{
    int counter = 0;
    int refusals = 0;
    if (progress)
        progress(offset, total);
    throwIfStopped(stop);
    for (;;) {
        std::exception_ptr failure;
        try {
            HttpRequest request;
            request.method = "PUT";
            request.url = url;
            request.headers.emplaceBack("Content-Type", mime.toUtf8());
            if (total == 0) {
                request.headers.emplaceBack("Content-Range", "bytes */0");
            } else {
                // Small files go whole; larger ones one chunk at a time. Either way the bytes are
                // read from disk on the network thread as they are sent, and dropped from the
                // page cache afterwards; a file that ends early fails with the size message.
                const qint64 length =
                    offset == 0 && total <= chunkSize ? total : std::min(total - offset, chunkSize);
                request.headers.emplaceBack("Content-Range",
                                            contentRange(offset, offset + length - 1, total));
                request.body = HttpBody::fromFile(file, offset, length);
            }
            const HttpResponse response = co_await authorizedUpload(
                std::move(request), defaultAccepted(), total, offset, progress, stop);
            if (response.status == 200 || response.status == 201)
                co_return DriveFile::fromJsonBytes(response.body);
            const qint64 confirmed = UploadUtilities::confirmedOffset(rangeOf(response), total);
            if (confirmed >= total)
                throw TarnwickError(u"Google chưa xác nhận hoàn tất file. Hãy thử lại."_s);
            if (confirmed <= offset) {
                // Google kept none of the chunk ("do not assume that the server received all
                // bytes sent"): send again from what it confirms, as after a network failure.
                if (counter > lastRetry)
                    throw TarnwickError(u"Google chưa xác nhận hoàn tất file. Hãy thử lại."_s);
                co_await sleepFor(retryWait(counter), stop);
                offset = confirmed;
                ++counter;
                continue;
            }
            if (progress)
                progress(confirmed, total);
            throwIfStopped(stop);
            offset = confirmed;
            counter = 0;
            refusals = 0;
            continue;
        } catch (...) {
            failure = std::current_exception();
        }

        throwIfStopped(stop);
        // A refusal for Google's limits waits the account's backoff and uses no attempt.
        const bool limited = co_await waitOutRateLimit(refusals, failure, stop);
        if (!limited) {
            if (!isRetryable(failure) || counter > lastRetry)
                std::rethrow_exception(failure);
            co_await sleepFor(transientWait(counter, failure), stop);
        }

        // Ask Google what it holds; a query failing in turn is retried on the same counter.
        for (;;) {
            HttpResponse status;
            std::exception_ptr queryFailure;
            try {
                status = co_await askUploadStatus(url, total, false, stop);
            } catch (...) {
                queryFailure = std::current_exception();
            }
            if (queryFailure) {
                throwIfStopped(stop);
                if (co_await waitOutRateLimit(refusals, queryFailure, stop))
                    continue;
                if (!isRetryable(queryFailure) || counter >= lastRetry)
                    std::rethrow_exception(queryFailure);
                ++counter;
                co_await sleepFor(transientWait(counter, queryFailure), stop);
                continue;
            }
            if (status.status == 200 || status.status == 201)
                co_return DriveFile::fromJsonBytes(status.body);
            const qint64 confirmed = UploadUtilities::confirmedOffset(rangeOf(status), total);
            if (confirmed >= total)
                throw TarnwickError(u"Google chưa xác nhận hoàn tất file."_s);
            if (progress)
                progress(confirmed, total);
            throwIfStopped(stop);
            offset = confirmed;
            if (!limited)
                ++counter;
            break;
        }
    }
}

QCoro::Task<HttpResponse> DriveClient::askUploadStatus(QUrl url, qint64 total, bool retry,
                                                       std::stop_token stop) const
{
    HttpRequest request;
    request.method = "PUT";
    request.url = std::move(url);
    request.headers.emplaceBack("Content-Range", "bytes */" + QByteArray::number(total));
    if (retry)
        co_return co_await retrying(std::move(request), defaultAccepted(), stop);
    co_return co_await authorized(std::move(request), defaultAccepted(), stop);
}

QCoro::Task<HttpResponse> DriveClient::authorizedUpload(HttpRequest request, QList<int> accepted,
                                                        qint64 expectedTotal, qint64 alreadySent,
                                                        Progress progress,
                                                        std::stop_token stop) const
{
    // The engine reports at most once per progress interval, plus when the body is all sent,
    // and its figures never go down within one request.
    if (progress) {
        request.onProgress = [progress, expectedTotal, alreadySent](const HttpProgress &p) {
            qint64 done = alreadySent + p.sent;
            if (expectedTotal > 0)
                done = std::min(done, expectedTotal);
            progress(done, expectedTotal);
        };
    }
    co_return co_await authorized(std::move(request), std::move(accepted), stop);
}

} // namespace Tarnwick
