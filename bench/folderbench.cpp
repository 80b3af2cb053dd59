// Sends a local folder tree to Drive through the transfer queue and fetches it back, for
// bench/folder-transfer.
//
//   tarnwick-bench-folder BASE SOURCE DESTINATION
//
// Signs an AppModel in against the emulator at BASE with the account in TARNWICK_BENCH_CLIENT,
// TARNWICK_BENCH_SECRET, TARNWICK_BENCH_TOKEN and TARNWICK_BENCH_REFRESH (stored in the
// desktop's keyring, so it runs inside scripts/with-test-session.sh), uploads the
// folder SOURCE into My Drive with enqueueUploads, then downloads the Drive folder it made into
// the local folder DESTINATION with enqueueDownloads. Each direction is timed from the enqueue to
// the transfer's end. Prints "RESULT up_secs=… down_secs=… up_main_cpu_ms=… down_main_cpu_ms=…
// up_cpu_ms=… down_cpu_ms=… (all threads) lateness_p99_ms=… up_start_epoch=… (when the upload
// was enqueued, in seconds since 1970) drive_folder=ID".
//
//   tarnwick-bench-folder BASE --download ID DESTINATION
//
// Only downloads the Drive folder ID into DESTINATION, for the later rounds; prints
// "RESULT down_secs=… down_main_cpu_ms=… down_cpu_ms=…".
#include "benchclient.h"

#include "appmodel.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "async/runsync.h"
#include "drive/driveclient.h"
#include "latenessprobe.h"
#include "transfer/transferqueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

#include <cstdio>
#include <stdexcept>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

struct Timed
{
    double secs = 0;
    double mainCpuMs = 0;
    double allCpuMs = 0;
};

// Downloads folder into destination through the queue, timed from the enqueue to the run's end.
Timed download(AppModel &model, const DriveFile &folder, const QString &destination)
{
    const double cpu = threadCpuMs();
    const double allCpu = processCpuSeconds();
    QElapsedTimer elapsed;
    elapsed.start();
    runSync(model.transfers().enqueueDownloads({folder}, destination));
    waitForAll(model);
    return {double(elapsed.nsecsElapsed()) / 1e9, threadCpuMs() - cpu,
            (processCpuSeconds() - allCpu) * 1000};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Tarnwick Bench"_s);
    const QStringList args = app.arguments();
    const bool downloadOnly = args.size() == 5 && args[2] == u"--download"_s;
    if (args.size() != 4 && !downloadOnly) {
        std::fprintf(stderr, "usage: see the head of folderbench.cpp\n");
        return 2;
    }
    const QString source = QDir::cleanPath(args[2]);
    const QString destination = QDir::cleanPath(args.last());
    try {
        QDir().mkpath(destination);
        HeadlessDesktop desktop;
        const std::unique_ptr<AppModel> signedIn =
            signIn(desktop, args[1], QFileInfo(destination).path());
        AppModel &model = *signedIn;
        if (downloadOnly) {
            const DriveFile folder = runSync(model.connection().drive().file(args[3]));
            const Timed down = download(model, folder, destination);
            std::printf("RESULT down_secs=%.3f down_main_cpu_ms=%.1f down_cpu_ms=%.1f\n", down.secs,
                        down.mainCpuMs, down.allCpuMs);
            return 0;
        }

        const double waitBefore = runqueueWaitMs();
        LatenessProbe probe;
        QElapsedTimer elapsed;

        const double cpu = threadCpuMs();
        const double allCpu = processCpuSeconds();
        elapsed.start();
        const double upStart = double(QDateTime::currentMSecsSinceEpoch()) / 1000;
        model.transfers().enqueueUploads({source});
        waitForAll(model);
        const double upSecs = double(elapsed.nsecsElapsed()) / 1e9;
        const double upCpu = threadCpuMs() - cpu;
        const double upAllCpu = (processCpuSeconds() - allCpu) * 1000;

        const QString name = source.mid(source.lastIndexOf(u'/') + 1);
        const QList<DriveFile> root = runSync(model.connection().drive().list(u"root"_s, false));
        std::optional<DriveFile> folder;
        for (const DriveFile &file : root) {
            if (file.name == name && file.isFolder()) {
                if (folder)
                    throw std::runtime_error("two Drive folders named " + name.toStdString());
                folder = file;
            }
        }
        if (!folder)
            throw std::runtime_error("the upload made no Drive folder " + name.toStdString());
        model.transfers().clearFinished();

        const Timed down = download(model, *folder, destination);

        std::printf("RESULT up_secs=%.3f down_secs=%.3f up_main_cpu_ms=%.1f down_main_cpu_ms=%.1f "
                    "up_cpu_ms=%.1f down_cpu_ms=%.1f lateness_p99_ms=%.2f runqueue_wait_ms=%.1f "
                    "up_start_epoch=%.3f drive_folder=%s\n",
                    upSecs, down.secs, upCpu, down.mainCpuMs, upAllCpu, down.allCpuMs,
                    probe.percentileMs(0.99),
                    runqueueWaitMs() - waitBefore, upStart, qPrintable(folder->id));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-bench-folder: %s\n", e.what());
        return 1;
    }
    return 0;
}
