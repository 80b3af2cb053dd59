// DriveClient: streamed downloads into a stamped part file, resumed by byte range.
#include "drive/driveclient.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "drive/partflusher.h"
#include "net/httpfilesink.h"
#include "records/contentrange.h"
#include "records/partialdownload.h"
#include "records/localnames.h"

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

constexpr int maxAttempts = 6;

// A partial answer whose bytes cannot be placed in the part file: it starts neither where we
// asked nor at 0, belongs to a file of another size, or the part file no longer ends where it
// did. The attempt is dropped and the download starts over from byte 0.
class UnusableRange final : public std::exception
{
public:
    const char *what() const noexcept override { return "unusable partial answer"; }
};

// A whole small file from its first byte comes into memory, not into a part file: a partial
// answer (206) always goes through the part file's checks.
bool keptInMemory(qint64 offset, qint64 expected, int status)
{
    return status == 200 && offset == 0 && expected > 0 &&
           expected <= DriveClient::inMemoryLimit;
}

// Background thread: forgets a part file that cannot be resumed into.
void removeFile(const QString &path)
{
    ::unlink(QFile::encodeName(path).constData());
}

// The part file's checks and removals wait on the disk, which may be busy flushing gigabytes: they
// run off the main thread. Named tasks: g++ 12 destroys a lambda temporary inside a co_await
// expression twice.
QCoro::Task<qint64> keptOffset(QString part, QString stamp, qint64 expected)
{
    auto reading = runInBackground<qint64>(
        [part, stamp, expected] { return PartialDownload::resumableOffset(part, stamp, expected); });
    co_return co_await reading;
}

QCoro::Task<> forgetPart(QString part)
{
    auto removing = runInBackground<void>([part] { removeFile(part); });
    co_await removing;
}

// Background thread: the size of the part file the answer filled.
qint64 partSize(const QString &part)
{
    struct stat info;
    if (::lstat(QFile::encodeName(part).constData(), &info) != 0)
        throw SystemError::fromErrno(errno);
    return qint64(info.st_size);
}

// Worker thread: makes the folders above a file that is about to be written.
void makeParentFolders(const QString &path)
{
    std::error_code error;
    std::filesystem::create_directories(
        QFile::encodeName(QFileInfo(path).absolutePath()).toStdString(), error);
    if (error)
        throw SystemError(QString::fromLocal8Bit(error.message()), error.value());
}

// A folder opened once, so that every step on the part file inside it goes through the same
// folder whatever is renamed or linked in its place meanwhile.
class FolderHandle final
{
public:
    explicit FolderHandle(const QString &folder)
        : m_fd(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~FolderHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

QByteArray encodedName(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).fileName());
}

// The stamp on an open part file.
std::optional<QString> readStamp(int fd)
{
    char value[1024];
    const ssize_t size = ::fgetxattr(fd, PartialDownload::attributeName, value, sizeof value);
    if (size < 0)
        return std::nullopt;
    return QString::fromUtf8(value, qsizetype(size));
}

// Worker thread: the part file kept for a resume, opened for appending right after `offset`. The
// file is opened once, relative to its folder and never through a symbolic link, and checked,
// cut back and written through that one descriptor: a link planted in its place between two
// attempts can never lead the bytes into another file. -1 when it cannot be used.
int openKeptPart(const FolderHandle &folder, const QByteArray &name, const QString &stamp,
                 qint64 offset)
{
    if (folder.fd() < 0)
        return -1;
    const int fd = ::openat(folder.fd(), name.constData(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return -1;
    struct stat info;
    const bool usable = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 &&
                        info.st_size >= offset && readStamp(fd) == stamp &&
                        (info.st_size == offset || ::ftruncate(fd, off_t(offset)) == 0);
    if (!usable) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Worker thread: a new, empty part file, stamped. Whatever stood at its name (a stale part file,
// a planted link) is removed first, and O_EXCL makes sure the file is our own new one.
int createPart(const FolderHandle &folder, const QByteArray &name, const QString &stamp)
{
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = -1;
    if (folder.fd() >= 0) {
        ::unlinkat(folder.fd(), name.constData(), 0);
        fd = ::openat(folder.fd(), name.constData(), flags, 0644);
    }
    if (fd < 0) {
        if (errno == ENOSPC || errno == EDQUOT)
            throw SystemError::fromErrno(errno);
        throw TarnwickError(u"Không ghi được file vào thư mục đích."_s);
    }
    PartialDownload::mark(fd, stamp);
    return fd;
}

// Worker thread: where the body of an answer goes.
std::unique_ptr<HttpSink> partFileSink(const HttpResponse &head, const QString &part,
                                       const QString &stamp, qint64 offset, qint64 expected)
{
    const QString folderPath = QFileInfo(part).absolutePath();
    const QByteArray name = encodedName(part);
    if (head.status == 206) {
        const bool hasRange = head.hasHeader("Content-Range");
        const auto range = ContentRange::parse(head.header("Content-Range"));
        const bool sameSize = range && (expected <= 0 || range->total == expected);
        if (offset > 0 && sameSize && range->first == offset) {
            // Resumed bytes go right after the kept ones, never anywhere else.
            const FolderHandle folder(folderPath);
            const int fd = openKeptPart(folder, name, stamp, offset);
            if (fd < 0)
                throw UnusableRange();
            auto sink = std::make_unique<HttpFileSink>(fd);
            if (sink->startOffset() != offset)
                throw UnusableRange();
            return sink;
        }
        // Bytes from the start are as good as a full answer, and so is a 206 without any
        // Content-Range to a request that asked for no range; bytes from anywhere else, or under
        // a header that does not read whole, would land at the wrong place.
        const bool fromStart = hasRange ? sameSize && range->first == 0 : offset == 0;
        if (!fromStart)
            throw UnusableRange();
    }
    std::optional<FolderHandle> folder;
    folder.emplace(folderPath);
    // The first file of a folder makes the folder.
    if (folder->fd() < 0 && errno == ENOENT) {
        makeParentFolders(part);
        folder.emplace(folderPath);
    }
    return std::make_unique<HttpFileSink>(createPart(*folder, name, stamp));
}

// Background thread: a part file left for a later resume holds on disk every byte its length
// claims; otherwise a crash of the machine could leave a length running ahead of the bytes
// written, and the resume would build on what never arrived.
void flushPart(const QString &part)
{
    const int fd = ::open(QFile::encodeName(part).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::close(fd);
}

} // namespace

QCoro::Task<> DriveClient::download(DriveFile file, QString destination, Progress progress,
                                    std::stop_token stop) const
{
    auto filling = downloadPart(file, destination, progress, stop, {});
    DownloadedPart part = co_await filling;
    const qint64 size = part.size;
    auto moving = putInPlace(destination, std::move(part));
    co_await moving;
    if (progress)
        progress(size, size);
}

QCoro::Task<DriveClient::DownloadedPart> DriveClient::downloadPart(DriveFile file,
                                                                   QString destination,
                                                                   Progress progress,
                                                                   std::stop_token stop,
                                                                   std::shared_ptr<HttpLane> lane,
                                                                   std::optional<qint64> kept) const
{
    if (file.mimeType.value_or(QString()).startsWith("application/vnd.google-apps."_L1))
        throw TarnwickError(
            u"Hãy mở tài liệu Google trong trình duyệt. Tải cả thư mục chưa có ở phiên bản này."_s);
    checkItemID(file.id);

    const QString part = LocalNames::partPath(destination);
    const QString stamp = PartialDownload::stamp(file);
    std::exception_ptr failure;
    DownloadedPart filled;
    try {
        auto filling = fillPart(file, part, stamp, progress, stop, std::move(lane), kept);
        filled = co_await filling;
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // The part file stays for a later resume: after a crash its length must not run ahead
        // of the bytes that reached the disk.
        auto flushing = runInBackground<void>([part] { flushPart(part); });
        co_await flushing;
        std::rethrow_exception(failure);
    }
    co_return filled;
}

QCoro::Task<> DriveClient::putInPlace(QString destination, DownloadedPart filled)
{
    PartFlusher::Finished file;
    file.part = LocalNames::partPath(destination);
    file.destination = std::move(destination);
    file.stamp = std::move(filled.stamp);
    file.bytes = std::move(filled.bytes);
    // Named first: g++ 12 destroys a temporary inside a co_await expression twice.
    auto placing = PartFlusher::place(std::move(file));
    co_await placing;
}

QCoro::Task<DriveClient::DownloadedPart> DriveClient::fillPart(DriveFile file, QString part,
                                                               QString stamp, Progress progress,
                                                               std::stop_token stop,
                                                               std::shared_ptr<HttpLane> lane,
                                                               std::optional<qint64> known) const
{
    const qint64 expected = file.bytes();
    if (!known) {
        auto checking = keptOffset(part, stamp, expected);
        known = co_await checking;
    }
    qint64 offset = *known;
    DownloadedPart filled;
    filled.stamp = stamp;

    if (expected > 0 && offset == expected) {
        throwIfStopped(stop);
    } else {
        int attempt = 1;
        int refusals = 0;
        bool refreshed = false;
        throwIfStopped(stop);
        for (;;) {
            HttpResponse response;
            std::exception_ptr failure;
            try {
                response = co_await downloadAttempt(file, part, stamp, offset, refreshed, progress,
                                                    stop, lane);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!failure) {
                if (response.status == 200 || response.status == 206) {
                    throwIfStopped(stop);
                    if (keptInMemory(offset, expected, response.status))
                        filled.bytes = std::move(response.body);
                    break;
                }
                if (response.status == 401 && !refreshed) {
                    refreshed = true;
                } else if (response.status == 416) {
                    auto removing = forgetPart(part);
                    co_await removing;
                    offset = 0;
                } else {
                    failure = std::make_exception_ptr(apiError(response));
                }
            }
            if (failure) {
                bool unusable = false;
                try {
                    std::rethrow_exception(failure);
                } catch (const UnusableRange &) {
                    unusable = true;
                } catch (...) {
                }
                throwIfStopped(stop);
                if (unusable) {
                    auto removing = forgetPart(part);
                    co_await removing;
                    offset = 0;
                } else if (co_await waitOutRateLimit(refusals, failure, stop)) {
                    // Google's limits use no attempt; the part file keeps what came.
                    auto measuring = keptOffset(part, stamp, expected);
                    offset = co_await measuring;
                    throwIfStopped(stop);
                    continue;
                } else if (isRetryable(failure) && attempt < maxAttempts) {
                    // The part file keeps what arrived before the break or the server's error.
                    // An attempt that moved the download on starts the count again, as an
                    // upload's does: a long download over a poor line fails only when it stops
                    // moving.
                    auto measuring = keptOffset(part, stamp, expected);
                    const qint64 kept = co_await measuring;
                    if (kept > offset)
                        attempt = 1;
                    co_await sleepFor(transientWait(attempt - 1, failure), stop);
                    auto rechecking = keptOffset(part, stamp, expected);
                    offset = co_await rechecking;
                } else {
                    std::rethrow_exception(failure);
                }
            }
            if (++attempt > maxAttempts)
                throw TarnwickError(u"Không tải được file từ Google Drive. Hãy thử lại."_s);
            throwIfStopped(stop);
        }
    }

    if (filled.bytes) {
        filled.size = filled.bytes->size();
    } else {
        auto measuring = runInBackground<qint64>([part] { return partSize(part); });
        filled.size = co_await measuring;
    }
    if (expected != 0 && filled.size != expected)
        throw TarnwickError(u"Kết nối bị ngắt khi đang tải "_s + file.name +
                            u". Bấm tiếp tục để tải nốt phần còn lại."_s);
    co_return filled;
}

QCoro::Task<HttpResponse> DriveClient::downloadAttempt(DriveFile file, QString part, QString stamp,
                                                       qint64 offset, bool forceRefresh,
                                                       Progress progress, std::stop_token stop,
                                                       std::shared_ptr<HttpLane> lane) const
{
    HttpRequest request = apiRequest("GET", filePath(file.id),
                                     {{u"alt"_s, u"media"_s}, {u"supportsAllDrives"_s, u"true"_s}});
    if (offset > 0)
        request.headers.emplaceBack("Range", "bytes=" + QByteArray::number(offset) + '-');
    request.lane = std::move(lane);
    const qint64 expected = file.bytes();
    if (progress)
        progress(offset, expected);

    // Set on the worker thread once a success answer streams into the part file; an error body
    // is no progress.
    auto streaming = std::make_shared<std::atomic<bool>>(false);
    request.chooseSink = [part, stamp, offset, expected,
                          streaming](const HttpResponse &head) -> std::unique_ptr<HttpSink> {
        if (head.status != 200 && head.status != 206)
            return nullptr;
        if (keptInMemory(offset, expected, head.status)) {
            streaming->store(true);
            return nullptr;
        }
        auto sink = partFileSink(head, part, stamp, offset, expected);
        streaming->store(true);
        return sink;
    };
    if (progress) {
        request.onProgress = [progress, expected, streaming](const HttpProgress &p) {
            if (!streaming->load())
                return;
            const qint64 total = expected > 0 ? expected : p.receiveTotal;
            progress(total > 0 ? std::min(p.received, total) : p.received, total);
        };
    }
    co_return co_await sendAuthorized(std::move(request), forceRefresh, stop);
}

} // namespace Tarnwick
