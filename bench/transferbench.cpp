// Moves files through DriveClient against the Drive emulator, for bench/transfer-throughput.
//
//   tarnwick-bench-transfer serve                     runs an emulator with a 1 GiB and a 20 GiB
//                                                     generated file; prints "BASE url", "TOKEN t",
//                                                     "FOLDER id", "FILE1G id", "FILE20G id"; ends
//                                                     on SIGTERM
//   tarnwick-bench-transfer download BASE ID OUT N    N downloads of item ID at once, into OUT.1…N
//   tarnwick-bench-transfer upload BASE FOLDER FILE N N uploads at once (8 MiB chunks) of
//                                                     FILE.1…N; prints "ITEM id" for each new item
//   tarnwick-bench-transfer idle                      sets up a client and moves nothing for 2 s
//   tarnwick-bench-transfer probe                     only the timer below, until SIGTERM
//
// TARNWICK_BENCH_TOKEN is the bearer token. While the transfers run, a 10 ms timer on the main
// thread records how late each tick comes, and the main thread's own CPU time is taken (lateness
// with little CPU is the scheduler's, not ours). Prints "RESULT bytes=… secs=… mbps=…
// progress_calls=… main_cpu_ms=… lateness_p99_ms=… lateness_max_ms=… late_ticks=… busy_late_ticks=…
// runqueue_wait_ms=…": ticks over 2 ms late, those in which the main thread itself was busy for
// most of the delay, and how long it waited, runnable, for a CPU.
#include "benchprocess.h"

#include "async/async.h"
#include "async/runsync.h"
#include "drive/driveclient.h"
#include "driveemulator.h"
#include "latenessprobe.h"
#include "net/endpoints.h"
#include "net/tarnwicknetwork.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <vector>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

long progressCalls = 0;

DriveClient makeClient(const QString &base)
{
    Endpoints::setCurrent(Endpoints::withBase(QUrl(base)));
    const QString token = QString::fromUtf8(qgetenv("TARNWICK_BENCH_TOKEN"));
    return DriveClient(TarnwickNetwork::session(),
                       [token](bool, std::stop_token) -> QCoro::Task<QString> { co_return token; });
}

void countProgress(qint64, qint64)
{
    ++progressCalls;
}

// Every transfer at once; the first failure is rethrown after all have ended.
QCoro::Task<> all(std::vector<QCoro::Task<>> tasks)
{
    std::exception_ptr failure;
    for (auto &task : tasks) {
        try {
            co_await task;
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

QCoro::Task<> uploadAndKeep(const DriveClient *client, QString file, QString folder,
                            QStringList *ids)
{
    const DriveFile item = co_await client->upload(file, folder, {}, {}, countProgress);
    ids->append(item.id);
}

int serve()
{
    Emulator::DriveEmulator emulator;
    emulator.start();
    const Emulator::TestAccount account = emulator.addTestAccount();
    emulator.setQuota(account.email, std::nullopt);
    const QString token = emulator.issueAccessToken(account.email, std::chrono::seconds(-1));
    std::printf(
        "BASE %s\nTOKEN %s\nFOLDER %s\nFILE1G %s\nFILE20G %s\n", qPrintable(emulator.baseUrl()),
        qPrintable(token), qPrintable(emulator.createFolder(account.email, u"bench"_s)),
        qPrintable(emulator.createGeneratedFile(account.email, u"1g.bin"_s, 1LL << 30, 1)),
        qPrintable(emulator.createGeneratedFile(account.email, u"20g.bin"_s, 20LL << 30, 2)));
    std::fflush(stdout);
    const int status = runUntilSignal();
    emulator.stop();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (mode == u"serve"_s)
        return serve();
    if (mode == u"probe"_s)
        return runProbe();
    const bool idle = mode == u"idle"_s;
    if (!idle && ((mode != u"download"_s && mode != u"upload"_s) || args.size() != 6)) {
        std::fprintf(stderr, "usage: see the head of transferbench.cpp\n");
        return 2;
    }
    const DriveClient client = makeClient(idle ? u"http://127.0.0.1:1"_s : args[2]);
    const int count = idle ? 0 : args[5].toInt();
    QStringList uploaded;
    std::vector<QCoro::Task<>> tasks;
    qint64 bytes = 0;
    try {
        DriveFile remote;
        if (mode == u"download"_s) {
            remote = runSync(client.file(args[3]));
            bytes = remote.bytes() * count;
        } else if (!idle) {
            for (int i = 1; i <= count; ++i)
                bytes += QFileInfo(args[4] + u".%1"_s.arg(i)).size();
        }
        TarnwickNetwork::session();
        const double cpuBefore = threadCpuMs();
        const double waitBefore = runqueueWaitMs();
        LatenessProbe probe;
        QElapsedTimer elapsed;
        elapsed.start();
        if (idle)
            tasks.push_back(sleepFor(std::chrono::seconds(2), {}));
        for (int i = 1; i <= count; ++i) {
            if (mode == u"download"_s)
                tasks.push_back(client.download(remote, args[4] + u".%1"_s.arg(i), countProgress));
            else
                tasks.push_back(
                    uploadAndKeep(&client, args[4] + u".%1"_s.arg(i), args[3], &uploaded));
        }
        runSync(all(std::move(tasks)), std::chrono::hours(1));
        const double secs = double(elapsed.nsecsElapsed()) / 1e9;
        std::printf("RESULT bytes=%lld secs=%.3f mbps=%.1f progress_calls=%ld main_cpu_ms=%.1f "
                    "lateness_p99_ms=%.2f lateness_max_ms=%.2f late_ticks=%ld busy_late_ticks=%ld "
                    "runqueue_wait_ms=%.1f\n",
                    static_cast<long long>(bytes), secs, double(bytes) / secs / 1e6, progressCalls,
                    threadCpuMs() - cpuBefore, probe.percentileMs(0.99), probe.maxMs(),
                    probe.lateTicks(), probe.busyLateTicks(), runqueueWaitMs() - waitBefore);
        for (const QString &id : uploaded)
            std::printf("ITEM %s\n", qPrintable(id));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-bench-transfer: %s\n", e.what());
        return 1;
    }
    return 0;
}
