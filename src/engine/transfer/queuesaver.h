#pragma once

#include "savedtransfer.h"

#include <QCoroTask>
#include <QList>
#include <QObject>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <functional>

namespace Tarnwick {

// Keeps the saved queue (TransferStore's file) in step with the queue in memory.
//
// A change of the queue is saved 2 seconds later (one pending save at most), a checkpoint change
// soon and off the main thread (changes made while a save runs go into one more save after it),
// and a change that must be on disk before the engine goes on, at once. Every save writes the
// snapshot it is given by the queue when it starts. Main thread only.
class QueueSaver final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueSaver)

public:
    using Snapshot = std::function<QList<SavedTransfer>()>;

    explicit QueueSaver(Snapshot snapshot, QObject *parent = nullptr);
    ~QueueSaver() override;

    // A save 2 seconds from now, written off the main thread.
    void scheduleSave();
    void saveNow();
    // A save off the main thread now; coalesced with those asked for while it runs.
    void saveSoon();
    // A save off the main thread of the queue as it is now, ending once it is on disk.
    QCoro::Task<> saveWritten();
    // Writes a save still waiting for its delay, or one running off the main thread, now and on
    // this thread (at exit). Nothing when none waits, so quitting before a restore never empties
    // the saved queue.
    void flush();
    // Off: nothing is written any more (another process keeps the saved queue).
    void setWritable(bool writable) { m_writable = writable; }

private:
    QCoro::Task<> delayedSave(std::stop_token stop);
    QCoro::Task<> backgroundSaves();
    // Takes the snapshot now and writes it off the main thread.
    QCoro::Task<> writeSnapshot();

    Snapshot m_snapshot;
    bool m_writable = true;
    bool m_savePending = false;
    bool m_backgroundRunning = false;
    bool m_backgroundAgain = false;
    std::stop_source m_lifetime;
};

} // namespace Tarnwick
