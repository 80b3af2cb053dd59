// Moves files through the transfer queue (AppModel, no window) against the Drive emulator, for
// bench/queue-throughput.
//
//   tarnwick-bench-queue serve SIZE N         runs an emulator with N generated files of SIZE
//                                             bytes; prints "BASE url", "CLIENT id", "SECRET s",
//                                             "TOKEN t", "REFRESH r" and "FILE id" for each file;
//                                             ends on SIGTERM
//   tarnwick-bench-queue run BASE DIR ID…     signs a model in, downloads the items ID… into
//                                             DIR/down as one transfer each, then uploads
//                                             DIR/source.1…N into My Drive as one transfer each
//                                             (N is the number of IDs); prints "ITEM id" for
//                                             each uploaded item
//   tarnwick-bench-queue idle BASE DIR        signs a model in and moves nothing for 2 s
//   tarnwick-bench-queue probe                only the 10 ms timer, until SIGTERM
//   tarnwick-bench-queue updates N            the main thread's cost of one progress report
//                                             (TransferQueue::update as the worker pool sends
//                                             it) with N transfers in the list and the six
//                                             working ones first or last; no server
//
// The sign-in reads TARNWICK_BENCH_CLIENT, _SECRET, _TOKEN and _REFRESH and stores them in the
// desktop's keyring, so run and idle need a session with one (scripts/with-test-session.sh).
//
// While the transfers run, a 10 ms timer on the main thread records how late each tick comes,
// and a bystander process (this program's probe) runs the same timer over the same span, so
// both see the same machine load. Prints "RESULT down_secs=… up_secs=… down_bytes=… up_bytes=…
// cpu_s=… main_cpu_ms=… lateness_p99_ms=… stall_max_ms=… stall_cpu_ms=… late_ticks=…
// busy_late_ticks=… runqueue_wait_ms=… bystander_p99_ms=… bystander_max_ms=… updates=…": cpu_s
// is the whole process's CPU while the transfers ran, stall_max_ms the longest gap between two
// ticks beyond the 10 ms period and stall_cpu_ms the main thread's own CPU in that gap, updates
// how many row changes the queue announced.
#include "benchclient.h"
#include "drive/driveclient.h"
#include "driveemulator.h"
#include "latenessprobe.h"
#include "transfer/transferqueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

int runQueue(const QString &base, const QString &dir, const QStringList &ids)
{
    HeadlessDesktop desktop;
    std::unique_ptr<AppModel> model = signIn(desktop, base, dir);
    const QString downloads = QDir(dir).filePath(u"down"_s);
    QDir().mkpath(downloads);
    QList<DriveFile> files;
    qint64 downBytes = 0;
    for (const QString &id : ids) {
        files.append(runSync(model->connection().drive().file(id)));
        downBytes += files.last().bytes();
    }
    QStringList sources;
    qint64 upBytes = 0;
    for (qsizetype i = 1; i <= ids.size(); ++i) {
        sources.append(QDir(dir).filePath(u"source.%1"_s.arg(i)));
        upBytes += QFileInfo(sources.last()).size();
    }
    long updates = 0;
    QObject::connect(&model->transfers().queue(), &TransferQueue::transferChanged, model.get(),
                     [&updates] { ++updates; });

    Bystander bystander;
    const double cpuBefore = processCpuSeconds();
    const double mainCpuBefore = threadCpuMs();
    const double waitBefore = runqueueWaitMs();
    LatenessProbe probe;
    QElapsedTimer elapsed;
    elapsed.start();

    runSync(model->transfers().enqueueDownloads(files, downloads));
    waitForAll(*model);
    const double downSecs = double(elapsed.nsecsElapsed()) / 1e9;
    model->transfers().clearFinished();

    elapsed.restart();
    model->transfers().enqueueUploads(sources);
    waitForAll(*model);
    const double upSecs = double(elapsed.nsecsElapsed()) / 1e9;

    probe.stop();
    const double cpu = processCpuSeconds() - cpuBefore;
    const double mainCpu = threadCpuMs() - mainCpuBefore;
    const double wait = runqueueWaitMs() - waitBefore;
    const QString other = bystander.stop();
    if (desktop.notifications != 2 * ids.size())
        fail(u"%1 notifications for %2 transfers"_s.arg(desktop.notifications).arg(2 * ids.size()));

    std::printf("RESULT down_secs=%.3f up_secs=%.3f down_bytes=%lld up_bytes=%lld cpu_s=%.3f "
                "main_cpu_ms=%.1f lateness_p99_ms=%.2f stall_max_ms=%.2f stall_cpu_ms=%.2f late_ticks=%ld "
                "busy_late_ticks=%ld runqueue_wait_ms=%.1f bystander_p99_ms=%s "
                "bystander_max_ms=%s updates=%ld\n",
                downSecs, upSecs, static_cast<long long>(downBytes),
                static_cast<long long>(upBytes), cpu, mainCpu, probe.percentileMs(0.99),
                probe.maxMs(), probe.worstTickCpuMs(), probe.lateTicks(), probe.busyLateTicks(), wait,
                qPrintable(valueOf(other, u"lateness_p99_ms"_s)),
                qPrintable(valueOf(other, u"lateness_max_ms"_s)), updates);

    QSet<QString> names;
    for (const QString &source : std::as_const(sources))
        names.insert(QFileInfo(source).fileName());
    for (const DriveFile &item : runSync(model->connection().drive().list(u"root"_s, false))) {
        if (names.contains(item.name))
            std::printf("ITEM %s\n", qPrintable(item.id));
    }
    std::fflush(stdout);
    return 0;
}

int idle(const QString &base, const QString &dir)
{
    HeadlessDesktop desktop;
    std::unique_ptr<AppModel> model = signIn(desktop, base, dir);
    QTimer::singleShot(2000, QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    return 0;
}

// Six working transfers of six workers each, reporting in turn, in a list of `count`.
int updates(int count)
{
    HeadlessDesktop desktop;
    AppModel model(&desktop);
    TransferQueue &queue = model.transfers().queue();
    for (int i = 0; i < std::max(count, 6); ++i) {
        Transfer transfer = Transfer::waiting(u"f%1"_s.arg(i));
        for (int worker = 0; worker < 6; ++worker)
            transfer.beginFile(worker, worker + 1, 6, transfer.name, {}, {}, 1 << 20, false);
        queue.append(std::move(transfer));
    }
    const QList<Transfer> &all = queue.transfers();
    for (const bool last : {false, true}) {
        QList<QUuid> working;
        for (int i = 0; i < 6; ++i)
            working.append(all[last ? all.size() - 1 - i : i].id);
        constexpr int reports = 200'000;
        QElapsedTimer elapsed;
        elapsed.start();
        for (int i = 0; i < reports; ++i) {
            const int worker = (i / 6) % 6;
            const qint64 done = i;
            queue.update(working[i % 6], [&](Transfer &t) {
                t.done = done;
                t.speed = 1e6;
                t.fileProgress(worker, done, 1e6);
            });
        }
        std::printf("RESULT transfers=%d working=%s us_per_update=%.3f\n", int(all.size()),
                    last ? "last" : "first", double(elapsed.nsecsElapsed()) / reports / 1e3);
    }
    return 0;
}

int serve(qint64 size, int count)
{
    Emulator::DriveEmulator emulator;
    emulator.start();
    const Emulator::TestAccount account = emulator.addTestAccount();
    emulator.setQuota(account.email, std::nullopt);
    std::printf("BASE %s\nCLIENT %s\nSECRET %s\nTOKEN %s\nREFRESH %s\n",
                qPrintable(emulator.baseUrl()), qPrintable(account.clientId),
                qPrintable(account.clientSecret),
                qPrintable(emulator.issueAccessToken(account.email, std::chrono::seconds(-1))),
                qPrintable(account.refreshToken));
    for (int i = 1; i <= count; ++i) {
        std::printf("FILE %s\n", qPrintable(emulator.createGeneratedFile(
                                     account.email, u"down.%1"_s.arg(i), size, quint64(i))));
    }
    std::printf("READY\n");
    std::fflush(stdout);
    const int status = runUntilSignal();
    emulator.stop();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick Bench"_s);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    try {
        if (mode == u"serve"_s && args.size() == 4)
            return serve(args[2].toLongLong(), args[3].toInt());
        if (mode == u"probe"_s)
            return runProbe();
        if (mode == u"updates"_s && args.size() == 3)
            return updates(args[2].toInt());
        if (mode == u"idle"_s && args.size() == 4)
            return idle(args[2], args[3]);
        if (mode == u"run"_s && args.size() >= 5)
            return runQueue(args[2], args[3], args.mid(4));
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
    }
    std::fprintf(stderr, "usage: see the head of queuebench.cpp\n");
    return 2;
}
