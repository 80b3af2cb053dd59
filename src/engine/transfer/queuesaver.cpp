#include "queuesaver.h"

#include "async/async.h"
#include "async/backgroundcall.h"

#include <QPointer>

using namespace std::chrono_literals;

namespace Tarnwick {

QueueSaver::QueueSaver(Snapshot snapshot, QObject *parent)
    : QObject(parent)
    , m_snapshot(std::move(snapshot))
{
}

QueueSaver::~QueueSaver()
{
    m_lifetime.request_stop();
}

void QueueSaver::scheduleSave()
{
    if (m_savePending || !m_writable)
        return;
    m_savePending = true;
    detach(delayedSave(m_lifetime.get_token()), {});
}

QCoro::Task<> QueueSaver::delayedSave(std::stop_token stop)
{
    QPointer<QueueSaver> self(this);
    try {
        co_await sleepFor(2s, stop);
    } catch (const Cancelled &) {
    }
    // Cut short by the saver going away: its owner saves at exit itself.
    if (!self || stop.stop_requested() || !m_savePending)
        co_return;
    m_savePending = false;
    // Encoding and the flushes to disk can take long on a slow disk: not on the main thread.
    saveSoon();
}

void QueueSaver::saveNow()
{
    if (m_writable)
        TransferStore::save(m_snapshot());
}

QCoro::Task<> QueueSaver::writeSnapshot()
{
    // Numbered here, on the main thread, so a later save (also saveNow) always wins; it holds
    // the same changes and more.
    const quint64 sequence = TransferStore::nextSequence();
    return runInBackground<void>(
        [saved = m_snapshot(), sequence] { TransferStore::save(saved, sequence); });
}

QCoro::Task<> QueueSaver::saveWritten()
{
    if (!m_writable)
        co_return;
    auto saving = writeSnapshot();
    co_await saving;
}

void QueueSaver::saveSoon()
{
    if (!m_writable)
        return;
    if (m_backgroundRunning) {
        m_backgroundAgain = true;
        return;
    }
    m_backgroundRunning = true;
    detach(backgroundSaves(), {});
}

QCoro::Task<> QueueSaver::backgroundSaves()
{
    QPointer<QueueSaver> self(this);
    do {
        m_backgroundAgain = false;
        auto saving = writeSnapshot();
        co_await saving;
        if (!self)
            co_return;
        // Checkpoint changes come as fast as files finish: one save a quarter second carries
        // them all, where a save per file would keep a core encoding the same queue again. A
        // finished file whose entry is lost to a crash costs one request on resume: its
        // reserved ID answers that it exists.
        if (m_backgroundAgain) {
            try {
                co_await sleepFor(250ms, m_lifetime.get_token());
            } catch (const Cancelled &) {
            }
            if (!self)
                co_return;
        }
    } while (m_backgroundAgain);
    m_backgroundRunning = false;
}

void QueueSaver::flush()
{
    // A save still running off the main thread may hold an older snapshot, and one it was to
    // follow with will never start: this save, numbered later, takes the place of both.
    if (!m_savePending && !m_backgroundRunning)
        return;
    m_savePending = false;
    saveNow();
}

} // namespace Tarnwick
