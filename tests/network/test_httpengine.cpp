#include "pattern.h"
#include "testserver.h"

#include "async/async.h"
#include "net/httpengine.h"
#include "net/httpfilesink.h"
#include "records/errors.h"
#include "async/runsync.h"
#include "net/tarnwicknetwork.h"
#include "async/taskgroup.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

TestServer &server()
{
    static TestServer instance;
    return instance;
}

HttpEngine &engine()
{
    return TarnwickNetwork::session();
}

HttpResponse fetch(HttpRequest request, std::stop_token token = {},
                   std::chrono::milliseconds timeout = 20s)
{
    return runSync(engine().send(std::move(request), std::move(token)), timeout);
}

HttpRequest get(const QString &pathAndQuery)
{
    HttpRequest request;
    request.url = server().url(pathAndQuery);
    return request;
}

void pump(std::chrono::milliseconds duration)
{
    runSync(sleepFor(duration, {}), duration + 5s);
}

// A generated request body that counts how it is read.
class PatternBody final : public HttpBody
{
public:
    struct Log
    {
        std::atomic<int> reads = 0;
        std::atomic<bool> closed = false;
    };

    PatternBody(qint64 size, std::shared_ptr<Log> log)
        : m_size(size)
        , m_log(std::move(log))
    {
    }
    qint64 size() const override { return m_size; }
    qint64 read(qint64 offset, char *buffer, qint64 capacity) override
    {
        ++m_log->reads;
        const qint64 n = std::min(capacity, m_size - offset);
        Pattern::instance().fill(offset, buffer, n);
        return n;
    }
    void close() override { m_log->closed = true; }

private:
    qint64 m_size;
    std::shared_ptr<Log> m_log;
};

// A response sink that checks the body against Pattern as it streams by, holding none of it.
class VerifyingSink final : public HttpSink
{
public:
    struct Report
    {
        std::atomic<qint64> size = 0;
        std::atomic<bool> good = true;
        std::atomic<int> finished = 0;
    };

    explicit VerifyingSink(std::shared_ptr<Report> report)
        : m_report(std::move(report))
    {
    }
    void write(const char *data, qint64 size) override
    {
        if (!Pattern::instance().matches(m_report->size, data, size))
            m_report->good = false;
        m_report->size += size;
    }
    void finish() override { ++m_report->finished; }

private:
    std::shared_ptr<Report> m_report;
};

std::shared_ptr<VerifyingSink::Report> verifyInto(HttpRequest &request)
{
    auto report = std::make_shared<VerifyingSink::Report>();
    request.chooseSink = [report](const HttpResponse &) {
        return std::make_unique<VerifyingSink>(report);
    };
    return report;
}

QByteArray upload(qint64 size, const QString &path = u"/verify"_s)
{
    HttpRequest request = get(path);
    request.method = "PUT";
    request.body = std::make_shared<PatternBody>(size, std::make_shared<PatternBody::Log>());
    const HttpResponse response = fetch(std::move(request), {}, 60s);
    EXPECT_EQ(response.status, 200);
    return response.body;
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A file system of `bytes` for the disk-full case: a private tmpfs when this process may mount
// one, else /dev/full (every write fails with ENOSPC).
class FullDisk final
{
public:
    explicit FullDisk(qint64 bytes)
    {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        const QByteArray options = "size=" + QByteArray::number(bytes);
        if (::mount("tarnwick-test", dir.constData(), "tmpfs", 0, options.constData()) == 0) {
            m_mounted = true;
            m_file = m_dir.filePath(u"download.part"_s);
        } else {
            m_file = u"/dev/full"_s;
        }
    }
    ~FullDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    const QString &file() const { return m_file; }
    bool mounted() const { return m_mounted; }

private:
    QTemporaryDir m_dir;
    QString m_file;
    bool m_mounted = false;
};

} // namespace

TEST(HttpBodies, smallAndChunkSizedBodiesArriveByteIdenticalBothWays)
{
    for (const qint64 size : {qint64(0), qint64(1), qint64(8 << 20) + 1}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(upload(size), QByteArray::number(size) + " ok");

        const HttpResponse inMemory = fetch(get(u"/pattern?size=%1"_s.arg(size)));
        EXPECT_EQ(inMemory.status, 200);
        EXPECT_EQ(inMemory.body, Pattern::instance().bytes(0, size));

        for (const QString &path : {u"/pattern?size=%1"_s, u"/chunked?size=%1"_s}) {
            HttpRequest request = get(path.arg(size));
            const auto report = verifyInto(request);
            const HttpResponse streamed = fetch(std::move(request));
            EXPECT_EQ(streamed.status, 200);
            EXPECT_TRUE(streamed.body.isEmpty()); // the sink took it
            EXPECT_EQ(report->size, size);
            EXPECT_TRUE(report->good);
            EXPECT_EQ(report->finished, 1);
        }
    }
}

TEST(HttpBodies, oneGibibyteStreamsBothWaysInConstantMemory)
{
    constexpr qint64 size = qint64(1) << 30;
    const long before = peakRssKiB();
    EXPECT_EQ(upload(size), QByteArray::number(size) + " ok");

    HttpRequest request = get(u"/pattern?size=%1"_s.arg(size));
    const auto report = verifyInto(request);
    EXPECT_EQ(fetch(std::move(request), {}, 60s).status, 200);
    EXPECT_EQ(report->size, size);
    EXPECT_TRUE(report->good);
    EXPECT_LT(peakRssKiB() - before, 64 * 1024);
}

TEST(HttpBodies, fileRangeGoesOutAndAResumedFileSinkAppendsFromItsEnd)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(u"source.bin"_s);
    constexpr qint64 size = (3 << 20) + 5;
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Pattern::instance().bytes(0, size));
    }
    constexpr qint64 from = (1 << 20) + 7;
    // The same body twice, as a retry sends it: the second request reads it from the start.
    const auto body = HttpBody::fromFile(source, from, size - from);
    for (int attempt = 0; attempt < 2; ++attempt) {
        HttpRequest put = get(u"/verify?from=%1"_s.arg(from));
        put.method = "PUT";
        put.body = body;
        EXPECT_EQ(fetch(std::move(put)).body, QByteArray::number(size - from) + " ok");
    }

    // A part file holding the first `from` bytes gets the rest appended.
    const QString part = dir.filePath(u".part"_s);
    {
        QFile file(part);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Pattern::instance().bytes(0, from));
    }
    HttpRequest request = get(u"/pattern?size=%1&from=%2"_s.arg(size - from).arg(from));
    request.chooseSink = [part](const HttpResponse &head) -> std::unique_ptr<HttpSink> {
        if (head.status != 200)
            return nullptr;
        return std::make_unique<HttpFileSink>(part, HttpFileSink::Mode::Append);
    };
    QList<HttpProgress> reports;
    request.onProgress = [&reports](const HttpProgress &p) { reports << p; };
    EXPECT_EQ(fetch(std::move(request)).status, 200);
    QFile file(part);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == Pattern::instance().bytes(0, size));
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_GE(reports.first().received, from); // counted from the bytes already there
    EXPECT_EQ(reports.last().received, size);
    EXPECT_EQ(reports.last().receiveTotal, size);
}

TEST(HttpBodies, fileSinkKeepsTheOrderOfPiecesOfEverySize)
{
    // Small pieces are gathered, large ones written at once: a large piece after gathered ones
    // must not overtake them.
    QTemporaryDir dir;
    const QString target = dir.filePath(u"body.bin"_s);
    const QList<qint64> pieces{10,      100 << 10, 5,         70 << 10, 3 << 20, 1,
                               64 << 10, 17,       (1 << 20) - 3, 64 << 10, 2};
    qint64 offset = 0;
    {
        HttpFileSink sink(target, HttpFileSink::Mode::Truncate);
        for (qint64 size : pieces) {
            const QByteArray piece = Pattern::instance().bytes(offset, size);
            sink.write(piece.constData(), size);
            offset += size;
        }
        EXPECT_EQ(sink.received(), offset);
        sink.finish();
    }
    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == Pattern::instance().bytes(0, offset));
}

// The disk reports a lost write-back once, to the one wait that sees it; a flush of the file
// afterwards would report nothing. The sink fails there and keeps only the bytes written before,
// so that neither a resume nor the final flush builds on bytes that never reached the disk.
TEST(HttpBodies, fileSinkThatLosesAWriteBackFailsAndKeepsOnlyWhatWasWrittenBefore)
{
    QTemporaryDir dir;
    const qint64 piece = 1 << 20;
    for (int failing : {1, 2}) {
        const QString target = dir.filePath(u"body-%1.bin"_s.arg(failing));
        int waits = 0;
        qint64 kept = -1;
        HttpFileSink::waitWritten = [&](int, qint64 from, qint64 size) {
            if (++waits < failing)
                return 0;
            kept = from;
            (void)size;
            return EIO;
        };
        const auto restore = qScopeGuard([] { HttpFileSink::waitWritten = nullptr; });
        HttpFileSink sink(target, HttpFileSink::Mode::Truncate);
        qint64 offset = 0;
        int code = 0;
        for (; offset < 8 * HttpFileSink::writeBehind && code == 0; offset += piece) {
            const QByteArray bytes = Pattern::instance().bytes(offset, piece);
            try {
                sink.write(bytes.constData(), piece);
            } catch (const SystemError &e) {
                code = e.code();
            }
        }
        EXPECT_EQ(code, EIO);
        EXPECT_EQ(waits, failing);
        ASSERT_GE(kept, 0);
        EXPECT_EQ(kept, (failing - 1) * HttpFileSink::writeBehind);
        // Nothing more goes in.
        const QByteArray more = Pattern::instance().bytes(offset, piece);
        EXPECT_THROW(sink.write(more.constData(), piece), SystemError);
        try {
            sink.finish();
        } catch (const SystemError &) {
        }
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.size(), kept);
        EXPECT_TRUE(file.readAll() == Pattern::instance().bytes(0, kept));
    }
}

TEST(HttpBodies, largeDownloadGoesToDiskAndLeavesThePageCacheAsItComes)
{
    QTemporaryDir dir;
    struct statfs fs
    {
    };
    ASSERT_EQ(::statfs(QFile::encodeName(dir.path()).constData(), &fs), 0);
    if (fs.f_type == TMPFS_MAGIC)
        GTEST_SKIP() << "a tmpfs folder has no disk to write behind to";
    // An overlay passes the advice to drop written pages on to no layer (containers, CI machines).
    if (fs.f_type == OVERLAYFS_SUPER_MAGIC)
        GTEST_SKIP() << "an overlay folder keeps its pages whatever it is advised";
    constexpr qint64 size = (96 << 20) + 3;
    const QString target = dir.filePath(u"big.bin"_s);
    HttpRequest request = get(u"/pattern?size=%1"_s.arg(size));
    request.chooseSink = [target](const HttpResponse &) {
        return std::make_unique<HttpFileSink>(target, HttpFileSink::Mode::Truncate);
    };
    EXPECT_EQ(fetch(std::move(request), {}, 60s).status, 200);

    // Pages still cached: the last windows only, not the whole file.
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    void *map = ::mmap(nullptr, size_t(size), PROT_READ, MAP_SHARED, fd, 0);
    ASSERT_NE(map, MAP_FAILED);
    const long page = ::sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> resident(size_t((size + page - 1) / page));
    ASSERT_EQ(::mincore(map, size_t(size), resident.data()), 0);
    const auto cached =
        std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return r & 1; });
    ::munmap(map, size_t(size));
    ::close(fd);
    EXPECT_LT(qint64(cached) * page, qint64(40) << 20);

    QFile file(target);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.size(), size);
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(Pattern::instance().matches(0, bytes.constData(), bytes.size()));
}

TEST(HttpBodies, fileThatShrankOrVanishedFailsTheRequestWithItsOwnError)
{
    QTemporaryDir dir;
    const QString source = dir.filePath(u"short.bin"_s);
    {
        QFile file(source);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Pattern::instance().bytes(0, 1000));
    }
    HttpRequest request = get(u"/verify"_s);
    request.method = "PUT";
    request.body = HttpBody::fromFile(source, 0, 5000);
    try {
        fetch(std::move(request));
        FAIL() << "a short file was sent as if whole";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(),
                  u"File đã thay đổi trong lúc tải lên. Hãy thử lại với bản đã lưu xong."_s);
    }

    HttpRequest missing = get(u"/verify"_s);
    missing.method = "PUT";
    missing.body = HttpBody::fromFile(dir.filePath(u"missing.bin"_s), 0, 10);
    try {
        fetch(std::move(missing));
        FAIL() << "a missing file was sent";
    } catch (const SystemError &e) {
        EXPECT_EQ(e.code(), ENOENT);
    }
}

TEST(HttpCancellation, stopMidRequestTakesItOffTheWorkerAtOnce)
{
    std::stop_source stop;
    QTimer::singleShot(50ms, QCoreApplication::instance(), [&] { stop.request_stop(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_THROW(fetch(get(u"/delay?ms=5000"_s), stop.get_token()), Cancelled);
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_EQ(engine().requestsInFlight(), 0);

    // A token stopped beforehand sends nothing.
    auto task = engine().send(get(u"/delay?ms=5000"_s), stop.get_token());
    EXPECT_TRUE(task.isReady());
    EXPECT_THROW(runSync(std::move(task)), Cancelled);
}

TEST(HttpCancellation, stopMidUploadStopsReadingTheBody)
{
    const auto log = std::make_shared<PatternBody::Log>();
    HttpRequest request = get(u"/slow-reader"_s);
    request.method = "PUT";
    request.body = std::make_shared<PatternBody>(qint64(1) << 30, log);
    std::stop_source stop;
    request.onProgress = [&stop](const HttpProgress &p) {
        if (p.sent > 0)
            stop.request_stop();
    };
    EXPECT_THROW(fetch(std::move(request), stop.get_token()), Cancelled);
    EXPECT_TRUE(log->closed);
    const int reads = log->reads;
    pump(100ms);
    EXPECT_EQ(log->reads, reads);
    EXPECT_EQ(engine().requestsInFlight(), 0);
}

TEST(HttpCancellation, stopMidDownloadLeavesEveryArrivedByteInThePartFile)
{
    QTemporaryDir dir;
    const QString part = dir.filePath(u".part"_s);
    constexpr qint64 arrives = (3 << 20) + 11; // not a multiple of the gathering size
    HttpRequest request = get(u"/stall?bytes=%1"_s.arg(arrives));
    request.chooseSink = [part](const HttpResponse &) {
        return std::make_unique<HttpFileSink>(part, HttpFileSink::Mode::Truncate);
    };
    std::stop_source stop;
    request.onProgress = [&stop](const HttpProgress &p) {
        if (p.received >= arrives)
            stop.request_stop();
    };
    EXPECT_THROW(fetch(std::move(request), stop.get_token()), Cancelled);
    QFile file(part);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll() == QByteArray(arrives, 'x'));
}

TEST(HttpInactivity, stalledServerEndsTheRequestWithATimeout)
{
    HttpRequest request = get(u"/stall?bytes=0"_s);
    request.inactivityTimeout = 1s;
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        fetch(std::move(request));
        FAIL() << "a stalled answer never timed out";
    } catch (const NetworkError &e) {
        EXPECT_TRUE(e.timedOut());
        EXPECT_EQ(e.description(), u"Máy chủ không phản hồi trong thời gian chờ. Hãy thử lại.");
    }
    EXPECT_GE(elapsed.elapsed(), 900);
    EXPECT_LT(elapsed.elapsed(), 5000);
}

TEST(HttpInactivity, slowButMovingAnswerIsNotCutOff)
{
    // 3 seconds in all against a 1-second limit: only inactivity counts, not the total time.
    HttpRequest request = get(u"/trickle?pieces=13&ms=250"_s);
    request.inactivityTimeout = 1s;
    const HttpResponse response = fetch(std::move(request));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body.size(), 130);
}

TEST(HttpEngineTest, severalRequestsRunAtOnce)
{
    server().resetCounters();
    std::vector<int> statuses;
    auto run = [](std::vector<int> *statuses) -> QCoro::Task<> {
        TaskGroup group;
        for (int i = 0; i < 6; ++i)
            group.spawn([statuses](std::stop_token token) -> QCoro::Task<> {
                const HttpResponse response = co_await engine().send(get(u"/hold?ms=400"_s), token);
                statuses->push_back(response.status);
            });
        co_await group.join();
    };
    QElapsedTimer elapsed;
    elapsed.start();
    runSync(run(&statuses));
    EXPECT_EQ(statuses, std::vector<int>(6, 200));
    EXPECT_EQ(server().maxHeld(), 6);
    EXPECT_LT(elapsed.elapsed(), 1500); // 6 × 400 ms one after the other would take 2.4 s
}

TEST(HttpLanes, aLaneRunsItsRequestsOneAtATimeInOrderBesideOtherLanes)
{
    server().resetCounters();
    const auto first = std::make_shared<HttpLane>();
    const auto second = std::make_shared<HttpLane>();
    std::vector<QString> ended;
    auto run = [&]() -> QCoro::Task<> {
        TaskGroup group;
        for (int i = 0; i < 6; ++i) {
            // Sent all at once: 0, 2, 4 on the first lane, 1, 3, 5 on the second.
            const auto lane = i % 2 ? second : first;
            group.spawn([&ended, lane, i](std::stop_token token) -> QCoro::Task<> {
                HttpRequest request = get(u"/hold?ms=150"_s);
                request.lane = lane;
                const HttpResponse response = co_await engine().send(std::move(request), token);
                ended.push_back(QString::number(i) + u':' + QString::number(response.status));
            });
        }
        co_await group.join();
    };
    QElapsedTimer elapsed;
    elapsed.start();
    runSync(run());
    EXPECT_EQ(server().maxHeld(), 2);
    EXPECT_GE(elapsed.elapsed(), 3 * 150 - 20);
    const std::vector<QString> expected{u"0:200"_s, u"1:200"_s, u"2:200"_s,
                                        u"3:200"_s, u"4:200"_s, u"5:200"_s};
    std::vector<QString> sorted = ended;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, expected);
    // Within each lane the order of sending holds.
    const auto position = [&ended](int i) {
        return std::find(ended.begin(), ended.end(), QString::number(i) + u":200"_s) - ended.begin();
    };
    EXPECT_LT(position(0), position(2));
    EXPECT_LT(position(2), position(4));
    EXPECT_LT(position(1), position(3));
    EXPECT_LT(position(3), position(5));
    EXPECT_EQ(engine().requestsInFlight(), 0);
}

TEST(HttpLanes, aRequestStoppedWhileWaitingForItsLaneNeverGoesOut)
{
    server().resetCounters();
    const auto lane = std::make_shared<HttpLane>();
    std::stop_source stopWaiting;
    bool waitingEnded = false;
    bool cancelled = false;
    int afterStatus = 0;
    QElapsedTimer elapsed;
    auto run = [&]() -> QCoro::Task<> {
        TaskGroup group;
        group.spawn([&](std::stop_token token) -> QCoro::Task<> {
            HttpRequest request = get(u"/hold?ms=600"_s);
            request.lane = lane;
            co_await engine().send(std::move(request), token);
        });
        group.spawn([&](std::stop_token) -> QCoro::Task<> {
            HttpRequest request = get(u"/hold?ms=1"_s);
            request.lane = lane;
            try {
                co_await engine().send(std::move(request), stopWaiting.get_token());
            } catch (const Cancelled &) {
                cancelled = true;
            }
            waitingEnded = elapsed.elapsed() < 500;
        });
        // The lane goes on with the next request after the stopped one.
        group.spawn([&](std::stop_token token) -> QCoro::Task<> {
            HttpRequest request = get(u"/hold?ms=1"_s);
            request.lane = lane;
            afterStatus = (co_await engine().send(std::move(request), token)).status;
        });
        co_await group.join();
    };
    elapsed.start();
    QTimer::singleShot(100ms, QCoreApplication::instance(), [&] { stopWaiting.request_stop(); });
    runSync(run());
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(waitingEnded) << "a stopped request waited for the one ahead of it";
    EXPECT_EQ(afterStatus, 200);
    EXPECT_EQ(server().holds(), 2);
    EXPECT_EQ(engine().requestsInFlight(), 0);

    // An engine that goes away ends the waiting requests as cancelled too.
    auto own = std::make_unique<HttpEngine>();
    const auto ownLane = std::make_shared<HttpLane>();
    QTimer::singleShot(50ms, QCoreApplication::instance(), [&own] { own.reset(); });
    auto send = [&](int ms) {
        HttpRequest request = get(u"/delay?ms=%1"_s.arg(ms));
        request.lane = ownLane;
        return own->send(std::move(request));
    };
    auto running = send(5000);
    auto waiting = send(1);
    EXPECT_THROW(runSync(std::move(running)), Cancelled);
    EXPECT_THROW(runSync(std::move(waiting)), Cancelled);
}

TEST(HttpEngineTest, plainHttpGoesOnlyToLoopbackHosts)
{
    for (const char *url :
         {"https://www.googleapis.com/drive/v3/files", "http://127.0.0.1:8080/x",
          "http://127.10.0.1/", "http://[::1]:9/", "http://localhost:5/", "http://LOCALHOST/"})
        EXPECT_TRUE(HttpEngine::isAllowedUrl(QUrl(QString::fromLatin1(url)))) << url;
    for (const char *url :
         {"http://www.googleapis.com/drive/v3/files", "http://10.0.0.1/", "http://192.168.1.1/",
          "http://localhost.example.com/", "http://127.0.0.1.example.com/", "http://[::2]/",
          "ftp://127.0.0.1/", "file:///etc/passwd", "https:///nohost", ""})
        EXPECT_FALSE(HttpEngine::isAllowedUrl(QUrl(QString::fromLatin1(url)))) << url;

    HttpRequest request;
    request.url = QUrl(u"http://oauth2.googleapis.com/token"_s);
    request.headers = {{"Authorization", "Bearer secret"}};
    auto task = engine().send(std::move(request));
    EXPECT_TRUE(task.isReady()); // refused before anything reached the worker
    EXPECT_THROW(runSync(std::move(task)), TarnwickError);
}

TEST(HttpEngineTest, redirectsAndResumeAnswersComeBackAsTheyAre)
{
    const HttpResponse redirect = fetch(get(u"/redirect"_s));
    EXPECT_EQ(redirect.status, 302);
    EXPECT_TRUE(redirect.header("location").endsWith("/pattern?size=1"));

    const HttpResponse incomplete = fetch(get(u"/status?code=308"_s));
    EXPECT_EQ(incomplete.status, 308);
    EXPECT_EQ(incomplete.header("x-TEST"), "yes");
    EXPECT_FALSE(incomplete.hasHeader("Location"));

    const HttpResponse notFound = fetch(get(u"/status?code=404"_s));
    EXPECT_EQ(notFound.status, 404);
    EXPECT_EQ(notFound.body, "status body");
}

TEST(HttpEngineTest, sendsItsOwnHeadersAndNeverExpectContinue)
{
    HttpRequest post = get(u"/echo"_s);
    post.method = "POST";
    post.headers = {{"Content-Type", "application/json"}, {"X-Custom", "value"}};
    post.body = HttpBody::fromBytes(QByteArray(3 << 20, 'a'));
    const QByteArray echoed = fetch(std::move(post)).body;
    EXPECT_TRUE(echoed.startsWith("method=POST\n"));
    EXPECT_TRUE(echoed.contains("X-Custom: value\n"));
    EXPECT_TRUE(echoed.contains("Content-Type: application/json\n"));
    EXPECT_TRUE(echoed.contains("User-Agent: Tarnwick/"));
    EXPECT_TRUE(echoed.contains("body=3145728\n"));
    EXPECT_FALSE(echoed.contains("Expect"));

    // A status query: PUT with no body says Content-Length 0 and invents no content type.
    HttpRequest put = get(u"/echo"_s);
    put.method = "PUT";
    put.headers = {{"Content-Range", "bytes */5000"}};
    const QByteArray statusQuery = fetch(std::move(put)).body;
    EXPECT_TRUE(statusQuery.startsWith("method=PUT\n"));
    EXPECT_TRUE(statusQuery.contains("Content-Length: 0\n"));
    EXPECT_TRUE(statusQuery.contains("Content-Range: bytes */5000\n"));
    EXPECT_FALSE(statusQuery.contains("Content-Type"));

    HttpRequest remove = get(u"/echo"_s);
    remove.method = "DELETE";
    EXPECT_TRUE(fetch(std::move(remove)).body.startsWith("method=DELETE\n"));

    // Handles are reused: nothing of the requests before (method, headers, body, no body) carries
    // over to the next.
    HttpRequest head = get(u"/pattern?size=10"_s);
    head.method = "HEAD";
    EXPECT_TRUE(fetch(std::move(head)).body.isEmpty());
    const QByteArray plain = fetch(get(u"/echo"_s)).body;
    EXPECT_TRUE(plain.startsWith("method=GET\n"));
    for (const char *left : {"X-Custom", "Content-Range", "Content-Type", "Content-Length"})
        EXPECT_FALSE(plain.contains(left)) << left;
    EXPECT_EQ(fetch(get(u"/pattern?size=10"_s)).body, Pattern::instance().bytes(0, 10));

    HttpRequest smuggling = get(u"/echo"_s);
    smuggling.headers = {{"X-Name", "a\r\nAuthorization: Bearer stolen"}};
    EXPECT_THROW(fetch(std::move(smuggling)), TarnwickError);
}

TEST(HttpErrors, refusedConnectionIsANetworkError)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    HttpRequest request;
    request.url = QUrl(u"http://127.0.0.1:%1/"_s.arg(port));
    try {
        fetch(std::move(request));
        FAIL() << "a closed port answered";
    } catch (const NetworkError &e) {
        EXPECT_FALSE(e.timedOut());
        // The user reads Vietnamese; the library's own words stay for the logs.
        EXPECT_EQ(e.description(),
                  u"Không kết nối được tới máy chủ. Hãy kiểm tra kết nối mạng rồi thử lại.");
        EXPECT_FALSE(e.detail().isEmpty());
        EXPECT_NE(e.code(), 0);
    }
}

TEST(HttpErrors, publicAddressesOnlyRefusesThisMachineBeforeSendingAnything)
{
    QTcpServer local;
    ASSERT_TRUE(local.listen(QHostAddress::LocalHost));
    // By address and by a name that resolves here: the check runs on the address connected to.
    for (const QString &host : {u"127.0.0.1"_s, u"localhost"_s}) {
        HttpRequest request;
        request.url = QUrl(u"http://%1:%2/thumbnail.png"_s.arg(host).arg(local.serverPort()));
        request.publicAddressesOnly = true;
        request.inactivityTimeout = 5s;
        try {
            fetch(std::move(request));
            ADD_FAILURE() << "a request reached " << host.toStdString();
        } catch (const NetworkError &e) {
            EXPECT_FALSE(e.timedOut()) << host.toStdString();
        }
    }
    // Not even a connection was made.
    EXPECT_FALSE(local.waitForNewConnection(0));

    // The same request without the restriction reaches the server.
    HttpRequest allowed;
    allowed.url = server().url(u"/echo"_s);
    EXPECT_EQ(fetch(std::move(allowed)).status, 200);
}

TEST(HttpErrors, certificateTheSystemDoesNotTrustIsRefused)
{
    QTemporaryDir dir;
    const QString key = dir.filePath(u"key.pem"_s);
    const QString certificate = dir.filePath(u"cert.pem"_s);
    QProcess openssl;
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-days"_s, u"1"_s, u"-subj"_s,
                   u"/CN=127.0.0.1"_s, u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s, u"-keyout"_s,
                   key, u"-out"_s, certificate});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        GTEST_SKIP() << "openssl could not make a certificate";
    httplib::SSLServer tls(QFile::encodeName(certificate).constData(),
                           QFile::encodeName(key).constData());
    tls.Get("/", [](const httplib::Request &, httplib::Response &response) {
        response.set_content("secret", "text/plain");
    });
    const int port = tls.bind_to_any_port("127.0.0.1");
    ASSERT_GT(port, 0);
    std::thread thread([&tls] { tls.listen_after_bind(); });
    HttpRequest request;
    request.url = QUrl(u"https://127.0.0.1:%1/"_s.arg(port));
    try {
        fetch(std::move(request));
        ADD_FAILURE() << "a self-signed certificate was accepted";
    } catch (const NetworkError &e) {
        EXPECT_EQ(e.code(), 60) << qPrintable(e.description()); // CURLE_PEER_FAILED_VERIFICATION
    }
    tls.stop();
    thread.join();
}

TEST(HttpErrors, diskFullInAFileSinkEndsTheRequestWithTheFullDiskMessage)
{
    FullDisk disk(1 << 20);
    const QString target = disk.file();
    HttpRequest request = get(u"/pattern?size=%1"_s.arg(8 << 20));
    request.chooseSink = [target](const HttpResponse &) {
        return std::make_unique<HttpFileSink>(target, HttpFileSink::Mode::Truncate);
    };
    try {
        fetch(std::move(request));
        FAIL() << "a download into a full disk succeeded";
    } catch (const SystemError &e) {
        EXPECT_EQ(e.code(), ENOSPC);
        EXPECT_EQ(e.description(), SystemError::fullDiskMessage());
    }
    EXPECT_EQ(engine().requestsInFlight(), 0);
    if (disk.mounted()) {
        // Whatever fitted is a clean prefix of the body.
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll();
        EXPECT_TRUE(Pattern::instance().matches(0, kept.constData(), kept.size()));
    }
}

TEST(HttpErrors, answersTooLargeForMemoryFailInsteadOfGrowingWithoutBound)
{
    constexpr qint64 limit = 64 << 20;
    // Announced and chunked alike; an answer of exactly the limit still arrives.
    for (const QString &path : {u"/pattern?size=%1"_s, u"/chunked?size=%1"_s}) {
        try {
            fetch(get(path.arg(limit + 1)), {}, 60s);
            FAIL() << qPrintable(path) << ": an oversized answer was kept in memory";
        } catch (const NetworkError &e) {
            EXPECT_TRUE(e.description().contains(u"64 MiB"_s)) << qPrintable(e.description());
        }
        EXPECT_EQ(engine().requestsInFlight(), 0);
    }
    EXPECT_EQ(fetch(get(u"/pattern?size=%1"_s.arg(limit)), {}, 60s).body.size(), limit);
}

TEST(HttpErrors, sinkChooserSeesTheHeadAndItsFailureEndsTheRequest)
{
    int seenStatus = 0;
    QByteArray seenHeader;
    HttpRequest request = get(u"/status?code=503"_s);
    request.chooseSink = [&](const HttpResponse &head) -> std::unique_ptr<HttpSink> {
        seenStatus = head.status;
        seenHeader = head.header("X-Test");
        return nullptr; // an error body goes to memory
    };
    const HttpResponse response = fetch(std::move(request));
    EXPECT_EQ(seenStatus, 503);
    EXPECT_EQ(seenHeader, "yes");
    EXPECT_EQ(response.body, "status body");

    HttpRequest refused = get(u"/pattern?size=100"_s);
    refused.chooseSink = [](const HttpResponse &) -> std::unique_ptr<HttpSink> {
        throw TarnwickError(u"Không ghi được file vào thư mục đích."_s);
    };
    try {
        fetch(std::move(refused));
        FAIL() << "the chooser's failure was lost";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(), u"Không ghi được file vào thư mục đích."_s);
    }
}

TEST(HttpProgress, reportsAreThrottledNeverGoDownAndEndAtTheTotals)
{
    constexpr qint64 size = 2 << 20; // the slow reader takes about 1.6 s for it
    HttpRequest request = get(u"/slow-reader"_s);
    request.method = "PUT";
    request.body = std::make_shared<PatternBody>(size, std::make_shared<PatternBody::Log>());
    QList<HttpProgress> reports;
    request.onProgress = [&reports](const HttpProgress &p) { reports << p; };
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(fetch(std::move(request)).body, "done");
    const qint64 ms = elapsed.elapsed();

    ASSERT_GE(reports.size(), 3);
    EXPECT_LE(reports.size(), ms / 50 + 4);
    for (qsizetype i = 1; i < reports.size(); ++i) {
        EXPECT_GE(reports[i].sent, reports[i - 1].sent);
        EXPECT_GE(reports[i].received, reports[i - 1].received);
    }
    EXPECT_EQ(reports.last().sent, size);
    EXPECT_EQ(reports.last().sendTotal, size);
    EXPECT_EQ(reports.last().received, 4); // "done"
}

// Answers one connection on 127.0.0.1 with fixed bytes, whatever was asked, then keeps it open
// until the client goes: for answers no well-behaved server library would send.
class FixedAnswerServer
{
public:
    explicit FixedAnswerServer(QByteArray answer)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(m_listener, 1) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            qFatal("cannot listen: %s", std::strerror(errno));
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this, answer = std::move(answer)] {
            const int peer = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                return; // shut down before anyone came
            QByteArray head;
            char buffer[4096];
            while (!head.contains("\r\n\r\n")) {
                const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                head.append(buffer, n);
            }
            ::send(peer, answer.constData(), size_t(answer.size()), MSG_NOSIGNAL);
            while (::recv(peer, buffer, sizeof buffer, 0) > 0) {
            }
            ::close(peer);
        });
    }
    ~FixedAnswerServer()
    {
        ::shutdown(m_listener, SHUT_RDWR); // wakes a pending accept
        m_thread.join();
        ::close(m_listener);
    }
    QUrl url() const { return QUrl(u"http://127.0.0.1:%1/file"_s.arg(m_port)); }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    std::thread m_thread;
};

// A resumed answer announcing a length no file could reach after the bytes already kept: the total
// counts as unknown instead of overflowing.
TEST(HttpProgress, announcedLengthPastAnyFileCountsAsUnknown)
{
    FixedAnswerServer answer("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 10-19/20\r\n"
                             "Content-Length: 9223372036854775807\r\n\r\n0123456789");
    QTemporaryDir dir;
    const QString part = dir.filePath(u".part"_s);
    {
        QFile file(part);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("0123456789");
    }
    HttpRequest request;
    request.url = answer.url();
    request.chooseSink = [part](const HttpResponse &) -> std::unique_ptr<HttpSink> {
        return std::make_unique<HttpFileSink>(part, HttpFileSink::Mode::Append);
    };
    std::stop_source stop;
    QList<HttpProgress> reports;
    request.onProgress = [&](const HttpProgress &p) {
        reports << p;
        if (p.received >= 20)
            stop.request_stop();
    };
    EXPECT_THROW(fetch(std::move(request), stop.get_token()), Cancelled);
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_EQ(reports.last().received, 20);
    for (const HttpProgress &p : std::as_const(reports))
        EXPECT_EQ(p.receiveTotal, 0);
}

TEST(HttpEngineTest, destroyingAnEngineEndsItsRequestsAsCancelled)
{
    auto own = std::make_unique<HttpEngine>();
    QTimer::singleShot(50ms, QCoreApplication::instance(), [&own] { own.reset(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_THROW(runSync(own->send(get(u"/delay?ms=5000"_s))), Cancelled);
    EXPECT_LT(elapsed.elapsed(), 1000);
}
