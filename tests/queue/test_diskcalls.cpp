// The window's thread never waits on the disk for a transfer: downloads (skipped, resumed and new
// files), a cancelled download and an upload run while every stat, mkdir, unlink, rename and
// extended-attribute read of a path under the test's folders is watched, and none may come from
// the main thread. The calls are caught by defining the C library's functions in this program
// (exported, so Qt's own calls find them too) and passing each on to the real one.
#include "queuetesting.h"
#include "support/testsupport.h"

#include "records/partialdownload.h"
#include "transfer/savedtransfer.h"
#include "records/localnames.h"
#include "transfer/transferqueue.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using State = TransferState;

namespace {

std::mutex watchMutex;
std::vector<std::string> watched; // path prefixes; none: nothing is watched
pthread_t mainThread;
std::vector<std::string> seen; // "call path" made on the main thread under the prefix

void note(const char *call, const char *path)
{
    if (!path || !pthread_equal(pthread_self(), mainThread))
        return;
    std::lock_guard lock(watchMutex);
    for (const std::string &prefix : watched) {
        if (std::string_view(path).starts_with(prefix)) {
            seen.push_back(std::string(call) + ' ' + path);
            return;
        }
    }
}

template<typename F> F real(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {
int stat(const char *path, struct stat *info) noexcept
{
    note("stat", path);
    return real<int (*)(const char *, struct stat *)>("stat")(path, info);
}
int lstat(const char *path, struct stat *info) noexcept
{
    note("lstat", path);
    return real<int (*)(const char *, struct stat *)>("lstat")(path, info);
}
int statx(int dir, const char *path, int flags, unsigned int mask, struct statx *info) noexcept
{
    note("statx", path);
    return real<int (*)(int, const char *, int, unsigned int, struct statx *)>("statx")(
        dir, path, flags, mask, info);
}
int mkdir(const char *path, mode_t mode) noexcept
{
    note("mkdir", path);
    return real<int (*)(const char *, mode_t)>("mkdir")(path, mode);
}
int unlink(const char *path) noexcept
{
    note("unlink", path);
    return real<int (*)(const char *)>("unlink")(path);
}
int rename(const char *from, const char *to) noexcept
{
    note("rename", from);
    return real<int (*)(const char *, const char *)>("rename")(from, to);
}
ssize_t getxattr(const char *path, const char *name, void *value, size_t size) noexcept
{
    note("getxattr", path);
    return real<ssize_t (*)(const char *, const char *, void *, size_t)>("getxattr")(
        path, name, value, size);
}
int access(const char *path, int mode) noexcept
{
    note("access", path);
    return real<int (*)(const char *, int)>("access")(path, mode);
}
}

namespace {

class DiskCalls : public QueueTest
{
protected:
    DiskCalls() { mainThread = pthread_self(); }
    ~DiskCalls() override { stopWatching(); }

    // The test's folders and the saved queue's.
    void watch(const QString &folder)
    {
        std::lock_guard lock(watchMutex);
        watched = {QFile::encodeName(folder).toStdString(),
                   QFile::encodeName(QFileInfo(TransferStore::fileURL()).path()).toStdString()};
        seen.clear();
    }
    static std::vector<std::string> stopWatching()
    {
        std::lock_guard lock(watchMutex);
        watched.clear();
        return std::exchange(seen, {});
    }
    static std::string joined(const std::vector<std::string> &calls)
    {
        std::string out;
        for (const std::string &call : calls)
            out += call + '\n';
        return out;
    }
};

TEST_F(DiskCalls, TheWatchCatchesTheMainThreadsOwnCalls)
{
    // Without this the test below could pass by catching nothing.
    watch(localDir.path());
    EXPECT_FALSE(QFileInfo::exists(local(u"nothing"_s)));
    QDir().mkpath(local(u"made/below"_s));
    struct stat info;
    ::stat(QFile::encodeName(local(u"made"_s)).constData(), &info);
    const std::vector<std::string> calls = stopWatching();
    EXPECT_GE(calls.size(), 3u) << joined(calls);
}

TEST_F(DiskCalls, DownloadsACancelAndAnUploadLeaveTheMainThreadOffTheDisk)
{
    // A tree with a file already whole, one with a part file to resume, and new ones.
    const QString top = emulator.createFolder(account.email, u"Cây"_s);
    const QString inner = emulator.createFolder(account.email, u"Con"_s, top);
    QStringList ids;
    for (int i = 1; i <= 4; ++i)
        ids.append(emulator.createFile(account.email, u"t%1.bin"_s.arg(i), bytes(300'000, quint64(i)),
                                       i % 2 ? top : inner));
    emulator.createFolder(account.email, u"Trống"_s, top);
    writeFile(local(u"Cây/t1.bin"_s), bytes(300'000, 1));
    const QString partPath = LocalNames::partPath(local(u"Cây/Con/t2.bin"_s));
    writeFile(partPath, bytes(300'000, 2).left(100'000));
    PartialDownload::mark(partPath, PartialDownload::stamp(driveFile(ids[1])));
    const QString slow = emulator.createFile(account.email, u"chậm.bin"_s, bytes(2'000'000, 9));
    throttleMedia(slow, 64 * 1024);
    // A tree: its reserved IDs are on disk before its creates go out.
    writeFile(local(u"lên/a.bin"_s), bytes(70'000, 5));
    writeFile(local(u"lên/con/b.bin"_s), bytes(1000, 6));

    watch(localDir.path());
    // The folder is there already: continued, as the alert's first answer says.
    desktop.answerAlert(0);
    download({driveFile(top), driveFile(slow)}, localDir.path());
    const QUuid tree = idAt(0), cancelled = idAt(1);
    ASSERT_TRUE(reaches(tree, State::Done)) << at(0).detail.toStdString();
    ASSERT_TRUE(waitUntil([&] { return transfer(cancelled)->done > 0; }));
    transfers->cancelTransfer(cancelled);
    ASSERT_TRUE(reaches(cancelled, State::Cancelled));
    upload({local(u"lên"_s)});
    ASSERT_TRUE(reaches(idAt(2), State::Done)) << at(2).detail.toStdString();
    const std::vector<std::string> calls = stopWatching();
    EXPECT_TRUE(calls.empty()) << joined(calls);

    // And the work was done: the whole file skipped, the part file resumed, the cancel cleaned.
    EXPECT_EQ(localTree(local(u"Cây"_s)), driveTree(top));
    EXPECT_EQ(mediaRequests(ids[0]).size(), 0);
    EXPECT_EQ(mediaRequests(ids[1]).last().header(u"range"_s), u"bytes=100000-");
    EXPECT_FALSE(QFileInfo::exists(LocalNames::partPath(local(u"chậm.bin"_s))));
}

// Cancelling a paused download and clearing a stopped one sweep their part files away from the
// window's thread.
TEST_F(DiskCalls, SweepingStoppedDownloadsLeavesTheMainThreadOffTheDisk)
{
    const QString top = emulator.createFolder(account.email, u"Dừng"_s);
    QStringList ids;
    for (int i = 1; i <= 3; ++i)
        ids.append(emulator.createFile(account.email, u"p%1.bin"_s.arg(i),
                                       bytes(400'000, quint64(i)), top));
    for (const QString &id : ids)
        throttleMedia(id, 64 * 1024);
    download({driveFile(top)}, localDir.path());
    const QUuid tree = idAt(0);
    ASSERT_TRUE(waitUntil([&] { return transfer(tree)->done > 0; }));
    transfers->pauseTransfer(tree);
    ASSERT_TRUE(reaches(tree, State::Paused));
    ASSERT_TRUE(QFileInfo::exists(LocalNames::partPath(local(u"Dừng/p1.bin"_s))));

    watch(localDir.path());
    transfers->cancelTransfer(tree);
    transfers->clearFinished();
    EXPECT_TRUE(transfers->list().isEmpty());
    const std::vector<std::string> calls = stopWatching();
    EXPECT_TRUE(calls.empty()) << joined(calls);
    EXPECT_TRUE(waitUntil([&] { return transfers->queue().pendingSweeps() == 0; }));
    for (int i = 1; i <= 3; ++i)
        EXPECT_FALSE(QFileInfo::exists(LocalNames::partPath(local(u"Dừng/p%1.bin"_s.arg(i)))));
}

} // namespace
