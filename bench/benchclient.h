// What the client benchmarks share: a desktop with no one in front of it, the sign-in through the
// keyring, waiting for the queue and the bystander process.
#pragma once

#include "benchprocess.h"

#include "appmodel.h"
#include "browse/localbrowser.h"
#include "connection/driveconnection.h"
#include "transfers/transfers.h"
#include "async/runsync.h"
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"
#include "desktop.h"
#include "net/endpoints.h"
#include "transfer/transferqueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace Tarnwick::Bench {

// A Desktop with no one in front of it: dialogs are cancelled, notifications are counted.
class HeadlessDesktop final : public Desktop
{
public:
    QCoro::Task<std::optional<QString>> chooseFolder(FolderRequest) override
    {
        co_return std::nullopt;
    }
    QCoro::Task<QStringList> chooseFiles(FilesRequest) override { co_return QStringList(); }
    QCoro::Task<std::optional<QString>> chooseSaveLocation(SaveRequest) override
    {
        co_return std::nullopt;
    }
    QCoro::Task<int> ask(Alert) override { co_return 1; }
    void openUrl(const QUrl &) override {}
    void postNotification(const Notification &) override { ++notifications; }
    void copyText(const QString &) override {}
    QCoro::Task<> moveToTrash(QString) override { co_return; }
    void reveal(const QStringList &) override {}
    void preview(const QString &) override {}

    int notifications = 0;
};

inline QString env(const char *name)
{
    const QString value = QString::fromUtf8(qgetenv(name));
    if (value.isEmpty())
        fail(QStringLiteral("%1 is not set").arg(QString::fromLatin1(name)));
    return value;
}

// A model signed in to the emulator at base with the tokens in TARNWICK_BENCH_CLIENT, _SECRET,
// _TOKEN and _REFRESH, stored in the desktop's keyring; its local pane shows dir.
inline std::unique_ptr<AppModel> signIn(Desktop &desktop, const QString &base, const QString &dir)
{
    Endpoints::setCurrent(Endpoints::withBase(QUrl(base)));
    const QString client = env("TARNWICK_BENCH_CLIENT");
    const KeychainStore keychain;
    runSync(keychain.save(OAuthConfiguration{client, env("TARNWICK_BENCH_SECRET")}.toJsonBytes(),
                          KeychainStore::configurationAccount()));
    const GoogleAuth::Tokens tokens{env("TARNWICK_BENCH_TOKEN"), env("TARNWICK_BENCH_REFRESH"),
                                    QDateTime::currentDateTimeUtc().addDays(1), client};
    runSync(keychain.save(tokens.toJsonBytes(), KeychainStore::tokensAccount()));

    auto model = std::make_unique<AppModel>(&desktop, keychain);
    model->connection().auth().setBundledConfigurationPath(
        QDir(dir).filePath(QStringLiteral("no-bundled.json")));
    runSync(model->initialize(), std::chrono::minutes(1));
    if (!model->connection().connected())
        fail(QStringLiteral("the model did not sign in: %1")
                 .arg(model->error().value_or(QString())));
    runSync(model->local().navigateLocal(dir));
    return model;
}

// Runs the event loop until every transfer in the list has finished and no run is left; fails on
// any that did not end done.
inline void waitForAll(AppModel &model)
{
    const TransferQueue &queue = model.transfers().queue();
    auto finished = [&queue] {
        if (queue.activeRuns() > 0)
            return false;
        for (const Transfer &t : queue.transfers()) {
            if (!isFinished(t.state))
                return false;
        }
        return true;
    };
    if (!finished()) {
        QEventLoop loop;
        // Nothing is finished while a run is left, and the last run's end is a signal of its
        // own: one look then, not one per change of a transfer, nor a poll that added up to its
        // period to every timed run.
        QObject::connect(&queue, &TransferQueue::allRunsEnded, &loop, [&] {
            if (finished())
                loop.quit();
        });
        loop.exec();
    }
    for (const Transfer &t : queue.transfers()) {
        if (t.state != TransferState::Done)
            fail(QStringLiteral("%1 ended as %2: %3").arg(t.name).arg(int(t.state)).arg(t.detail));
    }
}

// The same timer in a process of its own (this program's "probe" mode), over the same span.
class Bystander final
{
public:
    Bystander()
    {
        m_process.setProgram(QCoreApplication::applicationFilePath());
        m_process.setArguments({QStringLiteral("probe")});
        m_process.start();
        if (!m_process.waitForStarted())
            fail(QStringLiteral("the bystander did not start"));
    }
    // Its RESULT line.
    QString stop()
    {
        m_process.terminate();
        m_process.waitForFinished();
        return QString::fromUtf8(m_process.readAllStandardOutput()).trimmed();
    }

private:
    QProcess m_process;
};

// The value of key in a "key=value key=value" line; "0" when missing.
inline QString valueOf(const QString &line, const QString &key)
{
    for (const QString &field : line.split(u' ')) {
        if (field.startsWith(key + u'='))
            return field.mid(key.size() + 1);
    }
    return QStringLiteral("0");
}

} // namespace Tarnwick::Bench
