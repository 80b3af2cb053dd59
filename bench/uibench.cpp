// The real window with the queue panel open while folder transfers run against the Drive
// emulator, for bench/ui-under-load.
//
//   tarnwick-bench-ui serve FOLDERS FILES SIZE RATE SMALL
//                         runs an emulator with FOLDERS Drive folders of FILES generated files
//                         of SIZE bytes each and SMALL files of 4 KiB in My Drive; every download
//                         and every upload request moves its body at RATE bytes a second; prints
//                         "BASE url", "CLIENT id", "SECRET s", "TOKEN t", "REFRESH r", "FOLDER id"
//                         for each folder and "SMALL id" for each small file, then "READY"; ends
//                         on SIGTERM
//   tarnwick-bench-ui run BASE DIR HEIGHT ROWS ID… [-- SMALL…]
//                         signs a model in, opens the window (offscreen) with the queue panel
//                         HEIGHT high, downloads the Drive folders ID… into DIR/down as one
//                         transfer each, then uploads the local folders DIR/up/* into My Drive
//                         as one transfer each. With ROWS above the folders' count, the queue
//                         holds that many rows: half of the others are small Drive files SMALL…
//                         downloaded before the timing starts (done), the rest wait behind the
//                         folders, and finished rows stay through the uploads
//   tarnwick-bench-ui probe
//                         only the 10 ms timer, until SIGTERM
//
// While the transfers run, the main thread's 10 ms timer records how late each tick comes, a
// bystander process (this program's probe) runs the same timer over the same span, and each
// paint of the queue table's viewport and each repaint of the whole window is timed. Prints
// "RESULT down_secs=… up_secs=… main_cpu_ms=… main_cpu_ms_per_s=… row_updates=… lateness_p99_ms=… stall_max_ms=… stall_cpu_ms=… stall_at_s=…
// late_ticks=… busy_late_ticks=… bystander_p99_ms=… bystander_max_ms=… frame_p99_ms=…
// frame_max_ms=… frame_cpu_p99_ms=… frames=… window_p99_ms=… window_max_ms=… window_frames=… updates=…".
#include "benchclient.h"
#include "drive/driveclient.h"
#include "driveemulator.h"
#include "latenessprobe.h"

#include "common/icons.h"
#include "common/palette.h"
#include "queue/transferqueuemodel.h"
#include "queue/transferqueuepanel.h"
#include "queue/transferqueueview.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <vector>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

// Times each delivery of one event type to one widget, the widget's own handling included: the
// event is sent again from inside the filter, handled, and the original swallowed.
class EventTimer final : public QObject
{
public:
    EventTimer(QWidget *target, QEvent::Type type)
        : m_type(type)
    {
        target->installEventFilter(this);
    }
    void setRecording(bool on) { m_recording = on; }
    double percentileMs(double p) const { return percentile(m_times, p); }
    // The same over the main thread's own CPU time in each: the rest is waiting for a CPU.
    double cpuPercentileMs(double p) const { return percentile(m_cpuTimes, p); }
    double maxMs() const
    {
        return m_times.empty() ? 0 : double(*std::max_element(m_times.begin(), m_times.end())) / 1e6;
    }
    size_t count() const { return m_times.size(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != m_type || m_inside || !m_recording)
            return false;
        m_inside = true;
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadCpuMs();
        QCoreApplication::sendEvent(watched, event);
        m_times.push_back(timer.nsecsElapsed());
        m_cpuTimes.push_back(qint64((threadCpuMs() - cpu) * 1e6));
        m_inside = false;
        return true;
    }

private:
    static double percentile(std::vector<qint64> v, double p)
    {
        if (v.empty())
            return 0;
        const size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
        std::nth_element(v.begin(), v.begin() + qsizetype(k), v.end());
        return double(v[k]) / 1e6;
    }

    QEvent::Type m_type;
    bool m_inside = false;
    bool m_recording = false;
    std::vector<qint64> m_times;
    std::vector<qint64> m_cpuTimes;
};

int runWindow(const QString &base, const QString &dir, int height, int rows, const QStringList &ids,
              const QStringList &smallIds)
{
    HeadlessDesktop desktop;
    std::unique_ptr<AppModel> model = signIn(desktop, base, dir);
    const QString downloads = QDir(dir).filePath(u"down"_s);
    QDir().mkpath(downloads);
    QList<DriveFile> folders;
    for (const QString &id : ids)
        folders.append(runSync(model->connection().drive().file(id)));
    QList<DriveFile> small;
    for (const QString &id : smallIds)
        small.append(runSync(model->connection().drive().file(id)));
    const int others = std::max<int>(0, rows - int(folders.size()));
    if (small.size() < others)
        fail(u"%1 small files for %2 more rows"_s.arg(small.size()).arg(others));
    const QList<DriveFile> finished = small.mid(0, others / 2);
    const QList<DriveFile> waiting = small.mid(others / 2, others - others / 2);
    const QString smallDownloads = QDir(dir).filePath(u"small"_s);
    QDir().mkpath(smallDownloads);
    QStringList sources;
    const QDir up(QDir(dir).filePath(u"up"_s));
    for (const QString &name : up.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        sources.append(up.filePath(name));

    MainWindow window(model.get());
    model->setShowTransfers(true);
    window.resize(1280, 900);
    window.show();
    TransferQueuePanel *panel = window.queuePanel();
    if (!panel)
        fail(u"the window shows no queue panel"_s);
    panel->setQueueHeight(height);
    // Shown and laid out before anything is timed.
    QEventLoop settle;
    QTimer::singleShot(500, &settle, &QEventLoop::quit);
    settle.exec();

    // The rows that stay done, before anything is timed.
    if (!finished.isEmpty()) {
        runSync(model->transfers().enqueueDownloads(finished, smallDownloads));
        waitForAll(*model);
    }
    const qint64 rowUpdatesBefore = panel->queueModel()->rowUpdates();

    EventTimer frames(panel->view()->viewport(), QEvent::Paint);
    EventTimer windowFrames(&window, QEvent::UpdateRequest);
    long updates = 0;
    QObject::connect(&model->transfers().queue(), &TransferQueue::transferChanged, model.get(),
                     [&updates] { ++updates; });

    Bystander bystander;
    const double mainCpuBefore = threadCpuMs();
    LatenessProbe probe;
    frames.setRecording(true);
    windowFrames.setRecording(true);
    QElapsedTimer elapsed;
    elapsed.start();

    runSync(model->transfers().enqueueDownloads(folders, downloads));
    if (!waiting.isEmpty()) {
        runSync(model->transfers().enqueueDownloads(waiting, smallDownloads));
        // The running rows in sight, as a person watching them would scroll: the panel brings
        // each new row into view first.
        QTimer::singleShot(200, panel, [panel, row = int(finished.size())] {
            TransferQueueView *view = panel->view();
            view->scrollTo(view->queueModel()->index(row, 0), QAbstractItemView::PositionAtTop);
        });
    }
    waitForAll(*model);
    const double downSecs = double(elapsed.nsecsElapsed()) / 1e9;
    if (others == 0) {
        model->transfers().clearFinished();
    } else {
        // The uploads' rows come last: in sight the same way.
        QTimer::singleShot(200, panel, [panel, row = int(model->transfers().list().size())] {
            TransferQueueView *view = panel->view();
            view->scrollTo(view->queueModel()->index(row, 0), QAbstractItemView::PositionAtTop);
        });
    }

    elapsed.restart();
    if (!sources.isEmpty()) {
        model->transfers().enqueueUploads(sources);
        waitForAll(*model);
    }
    const double upSecs = sources.isEmpty() ? 0 : double(elapsed.nsecsElapsed()) / 1e9;

    probe.stop();
    frames.setRecording(false);
    windowFrames.setRecording(false);
    const double mainCpu = threadCpuMs() - mainCpuBefore;
    const qint64 rowUpdates = panel->queueModel()->rowUpdates() - rowUpdatesBefore;
    const QString other = bystander.stop();
    const qsizetype transfers = ids.size() + sources.size() + finished.size() + waiting.size();
    if (desktop.notifications != transfers)
        fail(u"%1 notifications for %2 transfers"_s.arg(desktop.notifications).arg(transfers));
    if (frames.count() == 0)
        fail(u"the queue panel was never painted"_s);

    std::printf("RESULT down_secs=%.3f up_secs=%.3f main_cpu_ms=%.1f main_cpu_ms_per_s=%.1f "
                "row_updates=%lld rows=%d lateness_p99_ms=%.2f "
                "stall_max_ms=%.2f stall_cpu_ms=%.2f stall_at_s=%.2f late_ticks=%ld busy_late_ticks=%ld "
                "bystander_p99_ms=%s bystander_max_ms=%s frame_p99_ms=%.2f frame_max_ms=%.2f "
                "frame_cpu_p99_ms=%.2f "
                "frames=%zu window_p99_ms=%.2f window_max_ms=%.2f window_frames=%zu updates=%ld\n",
                downSecs, upSecs, mainCpu, mainCpu / (downSecs + upSecs), qlonglong(rowUpdates),
                int(panel->queueModel()->rowCount()), probe.percentileMs(0.99), probe.maxMs(),
                probe.worstTickCpuMs(), probe.worstTickAtMs() / 1e3, probe.lateTicks(), probe.busyLateTicks(),
                qPrintable(valueOf(other, u"lateness_p99_ms"_s)),
                qPrintable(valueOf(other, u"lateness_max_ms"_s)), frames.percentileMs(0.99),
                frames.maxMs(), frames.cpuPercentileMs(0.99), frames.count(), windowFrames.percentileMs(0.99),
                windowFrames.maxMs(), windowFrames.count(), updates);
    std::fflush(stdout);
    return 0;
}

int serve(int folders, int files, qint64 size, qint64 rate, int small)
{
    Emulator::DriveEmulator emulator;
    emulator.start();
    const Emulator::TestAccount account = emulator.addTestAccount();
    emulator.setQuota(account.email, std::nullopt);
    Emulator::FaultRule download = Emulator::FaultRule::throttle(rate, u"GET"_s, u"^/drive/v3/files/"_s);
    download.query = u"alt=media"_s;
    download.times = 0;
    emulator.addFault(download);
    Emulator::FaultRule upload = Emulator::FaultRule::throttle(rate, {}, u"^/upload/"_s);
    upload.times = 0;
    emulator.addFault(upload);
    std::printf("BASE %s\nCLIENT %s\nSECRET %s\nTOKEN %s\nREFRESH %s\n",
                qPrintable(emulator.baseUrl()), qPrintable(account.clientId),
                qPrintable(account.clientSecret),
                qPrintable(emulator.issueAccessToken(account.email, std::chrono::seconds(-1))),
                qPrintable(account.refreshToken));
    for (int i = 1; i <= folders; ++i) {
        const QString folder = emulator.createFolder(account.email, u"Ảnh chuyến đi %1"_s.arg(i));
        for (int j = 1; j <= files; ++j)
            emulator.createGeneratedFile(account.email, u"IMG_%1.jpg"_s.arg(j, 4, 10, QChar(u'0')),
                                         size, quint64(i * 1000 + j), folder);
        std::printf("FOLDER %s\n", qPrintable(folder));
    }
    for (int i = 1; i <= small; ++i)
        std::printf("SMALL %s\n", qPrintable(emulator.createGeneratedFile(
                                        account.email, u"ghi-chú-%1.txt"_s.arg(i), 4096,
                                        quint64(90'000 + i))));
    std::printf("READY\n");
    std::fflush(stdout);
    const int status = runUntilSignal();
    emulator.stop();
    return status;
}

int dispatch(const QStringList &args)
{
    const QString mode = args.value(1);
    if (mode == u"serve"_s && args.size() == 7)
        return serve(args[2].toInt(), args[3].toInt(), args[4].toLongLong(), args[5].toLongLong(),
                     args[6].toInt());
    if (mode == u"probe"_s)
        return runProbe();
    if (mode == u"run"_s && args.size() >= 7) {
        const QStringList rest = args.mid(6);
        const qsizetype split = rest.indexOf(u"--"_s);
        return runWindow(args[2], args[3], args[4].toInt(), args[5].toInt(), rest.mid(0, split),
                         split < 0 ? QStringList() : rest.mid(split + 1));
    }
    std::fprintf(stderr, "usage: see the head of uibench.cpp\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    const bool window = argc > 1 && qstrcmp(argv[1], "run") == 0;
    std::unique_ptr<QCoreApplication> app;
    if (window) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setOrganizationName(u"Tarnwick"_s);
    QCoreApplication::setApplicationName(u"Tarnwick Bench"_s);
    if (window) {
        // Styled and with icons as the program is.
        Icons::prepareTheme();
        Palette::apply(*static_cast<QApplication *>(app.get()));
    }
    try {
        return dispatch(app->arguments());
    } catch (const std::exception &e) {
        fail(QString::fromUtf8(e.what()));
    }
}
