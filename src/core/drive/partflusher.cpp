#include "drive/partflusher.h"

#include "async/backgroundcall.h"
#include "records/errors.h"
#include "records/partialdownload.h"
#include "records/writefully.h"

#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <coroutine>
#include <fcntl.h>
#include <filesystem>
#include <latch>
#include <memory>
#include <mutex>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace Tarnwick::PartFlusher {

namespace {

QByteArray fileName(const QString &path)
{
    return QFile::encodeName(QFileInfo(path).fileName());
}

void fail(Finished &f, int err)
{
    if (!f.failure)
        f.failure = std::make_exception_ptr(SystemError::fromErrno(err));
}

// The destination's folder, opened once for the file: the part file is made, opened and renamed
// through it whatever is renamed or linked in its place meanwhile. A folder for a file still in
// memory is made when it is missing.
void openFolder(Finished &f)
{
    const QByteArray path = QFile::encodeName(QFileInfo(f.destination).absolutePath());
    f.folder = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (f.folder < 0 && errno == ENOENT && f.bytes) {
        std::error_code error;
        std::filesystem::create_directories(path.toStdString(), error);
        if (error)
            throw SystemError(QString::fromLocal8Bit(error.message()), error.value());
        f.folder = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (f.folder < 0)
        throw SystemError::fromErrno(errno);
}

// A new part file holding the bytes that came into memory, never one that a link put there.
// On failure no part file is left.
int writePart(Finished &f)
{
    const QByteArray name = fileName(f.part);
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    int fd = ::openat(f.folder, name.constData(), flags, 0644);
    if (fd < 0 && errno == EEXIST) {
        // A stale part file, or a planted link: removed, not written through.
        ::unlinkat(f.folder, name.constData(), 0);
        fd = ::openat(f.folder, name.constData(), flags, 0644);
    }
    if (fd < 0) {
        if (errno == ENOSPC || errno == EDQUOT)
            throw SystemError::fromErrno(errno);
        throw TarnwickError(u"Không ghi được file vào thư mục đích."_s);
    }
    if (const int err = writeFully(fd, f.bytes->constData(), f.bytes->size())) {
        ::close(fd);
        ::unlinkat(f.folder, name.constData(), 0);
        throw SystemError::fromErrno(err);
    }
    f.bytes = QByteArray();
    return fd;
}

// The complete part file a download streamed into.
int openPart(const Finished &f)
{
    const int fd =
        ::openat(f.folder, fileName(f.part).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        throw SystemError::fromErrno(errno);
    return fd;
}

// Runs job(i) for every i below count, on a few threads at once when there are many: each
// file's flush waits on the disk, and the disk takes them better together.
void inParallel(std::size_t count, const std::function<void(std::size_t)> &job)
{
    static QThreadPool *helpers = [] {
        auto *pool = new QThreadPool;
        pool->setMaxThreadCount(3);
        pool->setExpiryTimeout(30000);
        return pool;
    }();
    const std::size_t threads = std::clamp<std::size_t>((count + 7) / 8, 1, 4);
    const auto run = [&](std::size_t from) {
        for (std::size_t i = from; i < count; i += threads)
            job(i);
    };
    if (threads == 1) {
        run(0);
        return;
    }
    std::latch helped(std::ptrdiff_t(threads - 1));
    for (std::size_t t = 1; t < threads; ++t) {
        helpers->start([&run, &helped, t] {
            run(t);
            helped.count_down();
        });
    }
    run(0);
    helped.wait();
}

// Makes every file durable, or marks it failed. The files' writes were started together; their
// flushes wait on the disk side by side. One flush of the whole file system (syncfs) would cost
// about as much here, but it waits on every other program's writes too: behind a large copy to
// the same disk it took twice as long.
void flushGroup(const std::vector<Finished *> &files, const Flush &flush)
{
    inParallel(files.size(), [&](std::size_t i) {
        if (const int err = flush(files[i]->fd))
            fail(*files[i], err);
    });
}

void closeAll(Finished &f)
{
    if (f.fd >= 0)
        ::close(f.fd);
    if (f.folder >= 0)
        ::close(f.folder);
    f.fd = f.folder = -1;
}

// Writes a file still in memory into its new part file, or opens the part file it streamed into,
// and starts writing it to the disk without waiting. On failure nothing is left open.
void prepare(Finished &f)
{
    try {
        openFolder(f);
        f.fd = f.bytes ? writePart(f) : openPart(f);
        ::sync_file_range(f.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    } catch (...) {
        f.failure = std::current_exception();
        closeAll(f);
    }
}

// Flushes the prepared files as one group and renames each whose flush succeeded.
void flushAndPlace(std::span<Finished *const> group, const Flush &flush)
{
    std::vector<Finished *> open;
    for (Finished *f : group) {
        if (f->fd >= 0 && !f->failure)
            open.push_back(f);
    }
    flushGroup(open, flush);
    for (Finished *f : open) {
        const bool stamped = !f->bytes.has_value();
        if (!f->failure) {
            if (::renameat(f->folder, fileName(f->part).constData(), f->folder,
                           fileName(f->destination).constData()) == 0) {
                // Removed only now, so that a failed rename leaves a part file that resumes.
                if (stamped)
                    ::fremovexattr(f->fd, PartialDownload::attributeName);
            } else {
                fail(*f, errno);
            }
        }
        // A part file written from memory that stays behind is complete: stamped, the next try
        // puts it in place without a request.
        if (f->failure && !stamped)
            PartialDownload::mark(f->fd, f->stamp);
        closeAll(*f);
    }
}

} // namespace

int systemFlush(int fd)
{
    return ::fdatasync(fd) == 0 ? 0 : errno;
}

void placeGroup(std::span<Finished *const> group, const Flush &flush)
{
    for (Finished *f : group)
        prepare(*f);
    flushAndPlace(group, flush);
}

namespace {

// The threads behind place(): one writes each file as it comes, one flushes and renames what is
// written in groups. A file written while a group flushes, or in the short pause after it, joins
// the next group; a group resumes its coroutines with one event. A second writer made downloads
// slower, not faster: two threads making files in one folder spin on its lock.
class Flusher final
{
public:
    Flusher()
        : m_thread([this] { run(); })
    {
        m_writers.setMaxThreadCount(1);
        m_writers.setExpiryTimeout(30000);
        m_thread.detach();
    }

    void queue(std::shared_ptr<Finished> file, std::coroutine_handle<> resume)
    {
        m_writers.start([this, file = std::move(file), resume] {
            {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [this] { return m_open < maxOpen; });
                ++m_open;
            }
            prepare(*file);
            bool wake = false;
            {
                std::lock_guard lock(m_mutex);
                m_ready.push_back({file, resume});
                wake = std::exchange(m_idle, false);
            }
            if (wake)
                m_wake.notify_one();
        });
    }

private:
    struct Job
    {
        std::shared_ptr<Finished> file;
        std::coroutine_handle<> resume;
    };

    // Long enough for several of a busy download's files to gather, short beside a round trip.
    static constexpr std::chrono::microseconds pause{500};
    // Bounds the files (and descriptors) one group holds open, and those written and not yet
    // placed: the queue's downloads may finish faster than the disk takes them.
    static constexpr std::size_t maxGroup = 128;
    static constexpr std::size_t maxOpen = 192;

    void run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_idle = true;
            m_wake.wait(lock, [this] { return !m_ready.empty(); });
            m_idle = false;
            while (!m_ready.empty()) {
                const auto n = std::ptrdiff_t(std::min(maxGroup, m_ready.size()));
                std::vector<Job> batch(std::make_move_iterator(m_ready.begin()),
                                       std::make_move_iterator(m_ready.begin() + n));
                m_ready.erase(m_ready.begin(), m_ready.begin() + n);
                lock.unlock();
                std::vector<Finished *> group;
                std::vector<std::coroutine_handle<>> resumes;
                for (const Job &job : batch) {
                    group.push_back(job.file.get());
                    resumes.push_back(job.resume);
                }
                flushAndPlace(group, systemFlush);
                batch.clear();
                {
                    std::lock_guard placed(m_mutex);
                    m_open -= group.size();
                }
                m_room.notify_all();
                Detail::resumeOnMainThread(std::move(resumes));
                std::this_thread::sleep_for(pause);
                lock.lock();
            }
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_room;
    std::vector<Job> m_ready;
    std::size_t m_open = 0;
    bool m_idle = false;
    QThreadPool m_writers;
    std::thread m_thread;
};

// A plain pointer: g++ 12 copies awaiters passed through QCoro's await_transform and may destroy
// a temporary with a destructor twice. The coroutine's own shared pointer keeps the file alive.
struct Placing
{
    const std::shared_ptr<Finished> *file;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        // Never destroyed: a group may still be ending when the process exits.
        static Flusher *flusher = new Flusher;
        flusher->queue(*file, handle);
    }
    void await_resume() const noexcept {}
};

} // namespace

QCoro::Task<> place(Finished file)
{
    auto shared = std::make_shared<Finished>(std::move(file));
    co_await Placing{&shared};
    if (shared->failure)
        std::rethrow_exception(shared->failure);
}

} // namespace Tarnwick::PartFlusher
