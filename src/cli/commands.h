#pragma once

#include "auth/keychainstore.h"
#include "clioptions.h"
#include "drive/driveclient.h"
#include "drive/drivefile.h"
#include "transfer/queuelock.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QUuid>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

namespace Tarnwick {
class GoogleAuth;
class TransferQueue;
} // namespace Tarnwick

namespace Tarnwick::Cli {

class Output;

// The commands of tarnwick-cli over the window's sign-in, Drive client and transfer engine:
// the same keychain items and OAuth configuration, the same saved queue, the same rules.
//
// run() ends with the process's exit code. A first interrupt() pauses every transfer, saves the
// queue and ends the command once its runs have wound down; quitNow() saves and ends the
// process at once. Main thread only.
class Commands final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Commands)

public:
    Commands(Options options, KeychainStore keychain, Output &output, QObject *parent = nullptr);
    ~Commands() override;

    QCoro::Task<int> run();
    // Ctrl+C: pause and save, then end.
    void interrupt();
    // A second Ctrl+C: the saved queue is written whole, then the process ends.
    [[noreturn]] void quitNow();

private:
    QCoro::Task<int> dispatch();
    QCoro::Task<int> login();
    QCoro::Task<int> logout();
    QCoro::Task<int> whoami();
    QCoro::Task<int> list();
    QCoro::Task<int> makeFolder();
    QCoro::Task<int> put();
    QCoro::Task<int> get();
    QCoro::Task<int> showQueue();
    QCoro::Task<int> resume();
    QCoro::Task<int> trash();

    // Restores the sign-in; throws NotSignedInError unless connected.
    QCoro::Task<> requireSignIn();
    // The Drive item at a path below My Drive ("/" is My Drive itself).
    QCoro::Task<DriveFile> resolve(QString path);
    // A DRIVE_PATH, a link or an ID of the get command.
    QCoro::Task<DriveFile> resolveSource(QString argument);
    // The engine's queue with the saved queue's lock; throws when another process holds it.
    TransferQueue &queue();
    // Starts the queue and waits until nothing runs; the code of how the transfers ended.
    QCoro::Task<int> finishTransfers(QSet<QUuid> ids, int failedBefore);

    Options m_options;
    Output &m_output;
    GoogleAuth *m_auth; // a child
    DriveClient m_drive;
    QueueLock m_lock;
    TransferQueue *m_queue = nullptr; // a child, made when a command moves files
    std::stop_source m_stop;
    bool m_interrupted = false;
};

} // namespace Tarnwick::Cli
