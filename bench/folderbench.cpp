// Sends a local folder tree to Drive through the transfer queue and fetches it back, for
// bench/folder-transfer.
//
//   tarnwick-bench-folder BASE SOURCE DESTINATION
//
// Signs an AppModel in against the emulator at BASE with the account in TARNWICK_BENCH_CLIENT_ID,
// TARNWICK_BENCH_CLIENT_SECRET, TARNWICK_BENCH_ACCESS_TOKEN and TARNWICK_BENCH_REFRESH_TOKEN
// (stored in the desktop's keyring, so it runs inside scripts/with-test-session.sh), uploads the
// folder SOURCE into My Drive with enqueueUploads, then downloads the Drive folder it made into
// the local folder DESTINATION with enqueueDownloads. Each direction is timed from the enqueue to
// the transfer's end. Prints "RESULT up_secs=… down_secs=… up_main_cpu_ms=… down_main_cpu_ms=…
// lateness_p99_ms=… drive_folder=ID".
#include "appmodel.h"
#include "async/runsync.h"
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "latenessprobe.h"
#include "net/endpoints.h"
#include "transfer/transferqueue.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <stdexcept>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

// No one sits at this desktop: pickers are cancelled, alerts dismissed.
class SilentDesktop final : public Desktop
{
public:
    QCoro::Task<std::optional<QString>> chooseFolder(FolderRequest) override { co_return {}; }
    QCoro::Task<QStringList> chooseFiles(FilesRequest) override { co_return {}; }
    QCoro::Task<std::optional<QString>> chooseSaveLocation(SaveRequest) override { co_return {}; }
    QCoro::Task<int> ask(Alert) override { co_return -1; }
    void openUrl(const QUrl &) override {}
    void postNotification(const Notification &) override {}
    void copyText(const QString &) override {}
    QCoro::Task<> moveToTrash(QString) override { co_return; }
    void reveal(const QStringList &) override {}
    void preview(const QString &) override {}
};

QByteArray env(const char *name)
{
    const QByteArray value = qgetenv(name);
    if (value.isEmpty())
        throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

// Runs the event loop until every transfer in the list has ended; throws unless all are done.
void waitForQueue(AppModel &model)
{
    auto settled = [&] {
        if (model.queue().activeRuns() > 0)
            return false;
        for (const Transfer &t : model.transfers()) {
            if (!isFinished(t.state))
                return false;
        }
        return true;
    };
    QEventLoop loop;
    QObject::connect(&model.queue(), &TransferQueue::transfersChanged, &loop, [&] {
        if (settled())
            loop.quit();
    });
    // A run ends after its last change was announced.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (settled())
            loop.quit();
    });
    poll.start(20);
    if (!settled())
        loop.exec();
    for (const Transfer &t : model.transfers()) {
        if (t.state != TransferState::Done)
            throw std::runtime_error("transfer " + t.name.toStdString() + " ended as "
                                     + std::to_string(int(t.state)) + ": "
                                     + t.detail.toStdString());
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"Tarnwick Bench"_s);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: see the head of folderbench.cpp\n");
        return 2;
    }
    const QString source = QDir::cleanPath(args[2]);
    const QString destination = QDir::cleanPath(args[3]);
    try {
        Endpoints::setCurrent(Endpoints::withBase(QUrl(args[1])));
        const KeychainStore keychain(KeychainStore::defaultService() + u"-bench"_s);
        runSync(keychain.save(OAuthConfiguration{QString::fromUtf8(env("TARNWICK_BENCH_CLIENT_ID")),
                                                 QString::fromUtf8(
                                                     env("TARNWICK_BENCH_CLIENT_SECRET"))}
                                  .toJsonBytes(),
                              KeychainStore::configurationAccount()));
        const QString clientId = QString::fromUtf8(env("TARNWICK_BENCH_CLIENT_ID"));
        const GoogleAuth::Tokens tokens{QString::fromUtf8(env("TARNWICK_BENCH_ACCESS_TOKEN")),
                                        QString::fromUtf8(env("TARNWICK_BENCH_REFRESH_TOKEN")),
                                        QDateTime::currentDateTimeUtc().addSecs(3000), clientId};
        runSync(keychain.save(tokens.toJsonBytes(), KeychainStore::tokensAccount()));

        SilentDesktop desktop;
        AppModel model(&desktop, keychain);
        model.auth().setBundledConfigurationPath(QDir::temp().filePath(u"tarnwick-bench-none.json"_s));
        runSync(model.initialize());
        if (!model.connected())
            throw std::runtime_error("not signed in: "
                                     + model.error().value_or(QString()).toStdString());

        const double waitBefore = runqueueWaitMs();
        LatenessProbe probe;
        QElapsedTimer elapsed;

        double cpu = threadCpuMs();
        elapsed.start();
        model.enqueueUploads({source});
        waitForQueue(model);
        const double upSecs = double(elapsed.nsecsElapsed()) / 1e9;
        const double upCpu = threadCpuMs() - cpu;

        const QString name = source.mid(source.lastIndexOf(u'/') + 1);
        const QList<DriveFile> root = runSync(model.drive().list(u"root"_s, false));
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
        model.clearFinished();

        QDir().mkpath(destination);
        cpu = threadCpuMs();
        elapsed.restart();
        runSync(model.enqueueDownloads({*folder}, destination));
        waitForQueue(model);
        const double downSecs = double(elapsed.nsecsElapsed()) / 1e9;
        const double downCpu = threadCpuMs() - cpu;

        std::printf("RESULT up_secs=%.3f down_secs=%.3f up_main_cpu_ms=%.1f down_main_cpu_ms=%.1f "
                    "lateness_p99_ms=%.2f runqueue_wait_ms=%.1f drive_folder=%s\n",
                    upSecs, downSecs, upCpu, downCpu, probe.percentileMs(0.99),
                    runqueueWaitMs() - waitBefore, qPrintable(folder->id));
        runSync(keychain.remove(KeychainStore::tokensAccount()));
        runSync(keychain.remove(KeychainStore::configurationAccount()));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "tarnwick-bench-folder: %s\n", e.what());
        return 1;
    }
    return 0;
}
