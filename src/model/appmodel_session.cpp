#include "appmodel.h"

#include "async/async.h"
#include "async/backgroundcall.h"
#include "transfer/savedtransfer.h"
#include "transfer/transferqueue.h"

#include <QPointer>
#include <QSettings>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace Tarnwick {

const QString AppModel::autoResumeKey = u"auto-resume-transfers"_s;

void AppModel::scheduleSessionSave()
{
    if (m_sessionSavePending)
        return;
    m_sessionSavePending = true;
    detach(delayedSessionSave(m_lifetime.source.get_token()), {});
}

QCoro::Task<> AppModel::delayedSessionSave(std::stop_token stop)
{
    QPointer<AppModel> self(this);
    try {
        co_await sleepFor(2s, stop);
    } catch (const Cancelled &) {
    }
    // Cut short by the model going away: the shell saves at exit itself.
    if (!self || stop.stop_requested() || !m_sessionSavePending)
        co_return;
    m_sessionSavePending = false;
    // Encoding and the flushes to disk can take long on a slow disk: not on the main thread.
    saveSessionSoon();
}

QList<SavedTransfer> AppModel::sessionSnapshot() const
{
    QList<SavedTransfer> saved;
    for (const Transfer &t : m_queue->transfers()) {
        // A failed transfer is kept too: after a restart ↻ retries it and "Bỏ" takes its part
        // files away, where it would otherwise leave them on the disk for good.
        if (t.state == TransferState::Waiting || t.state == TransferState::Working
            || t.state == TransferState::Paused || t.state == TransferState::Failed)
            saved.append(SavedTransfer::from(t, m_queue->checkpoint(t.id)));
    }
    if (m_unrestored) {
        for (const SavedTransfer &record : *m_unrestored) {
            const bool inQueue = std::any_of(saved.cbegin(), saved.cend(), [&](const SavedTransfer &s) {
                return s.id == record.id;
            });
            if (!inQueue && !m_queue->find(record.id))
                saved.append(record);
        }
    }
    return saved;
}

void AppModel::saveSessionNow()
{
    TransferStore::save(sessionSnapshot());
}

void AppModel::saveSessionSoon()
{
    if (m_backgroundSaveRunning) {
        m_backgroundSaveAgain = true;
        return;
    }
    m_backgroundSaveRunning = true;
    detach(backgroundSessionSaves(), {});
}

QCoro::Task<> AppModel::backgroundSessionSaves()
{
    QPointer<AppModel> self(this);
    do {
        m_backgroundSaveAgain = false;
        // Numbered here, on the main thread, so a later save (also saveSessionNow) always wins.
        const quint64 sequence = TransferStore::nextSequence();
        auto saving = runInBackground<void>(
            [saved = sessionSnapshot(), sequence] { TransferStore::save(saved, sequence); });
        co_await saving;
        if (!self)
            co_return;
        // Checkpoint changes come as fast as files finish: one save a quarter second carries
        // them all, where a save per file would keep a core encoding the same queue again. A
        // finished file whose entry is lost to a crash costs one request on resume: its
        // reserved ID answers that it exists.
        if (m_backgroundSaveAgain) {
            try {
                co_await sleepFor(250ms, m_lifetime.source.get_token());
            } catch (const Cancelled &) {
            }
            if (!self)
                co_return;
        }
    } while (m_backgroundSaveAgain);
    m_backgroundSaveRunning = false;
}

void AppModel::flushSessionSave()
{
    // A save still running off the main thread may hold an older snapshot, and one it was to
    // follow with will never start: this save, numbered later, takes the place of both.
    if (!m_sessionSavePending && !m_backgroundSaveRunning)
        return;
    m_sessionSavePending = false;
    saveSessionNow();
}

void AppModel::holdUnrestoredSession()
{
    if (!m_unrestored)
        m_unrestored = TransferStore::load();
}

void AppModel::restoreSession()
{
    holdUnrestoredSession();
    const QList<SavedTransfer> saved = *std::exchange(m_unrestored, std::nullopt);
    if (saved.isEmpty())
        return;
    QSet<QUuid> restored = m_queue->restoredIDs();
    for (const SavedTransfer &record : saved) {
        // A file edited by hand may name one transfer twice: the first one counts.
        if (m_queue->find(record.id))
            continue;
        if (record.checkpoint)
            m_queue->restoreCheckpoint(record.id, *record.checkpoint);
        m_queue->append(record.restored());
        // A failed one waits for the user's ↻, not for the prompt's "Tiếp tục".
        if (!record.failure)
            restored.insert(record.id);
    }
    m_queue->setRestoredIDs(restored);
    setShowTransfers(true);
    if (restored.isEmpty())
        return;
    if (m_autoResumeTransfers)
        resumeRestored();
    else
        publish(m_restoredPrompt, std::optional<int>(int(restored.size())),
                &AppModel::restoredPromptChanged);
}

void AppModel::resumeRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    if (!m_connected) {
        m_resumeAfterLogin = true;
        setShowConnection(true);
        return;
    }
    const QSet<QUuid> restored = m_queue->restoredIDs();
    m_queue->setRestoredIDs({});
    // In queue order, so the restored transfers start in the order they had.
    for (const Transfer &t : m_queue->transfers()) {
        if (restored.contains(t.id))
            m_queue->resumeTransfer(t.id);
    }
}

void AppModel::postponeRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    m_queue->setRestoredIDs({});
}

void AppModel::discardRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    const QSet<QUuid> restored = m_queue->restoredIDs();
    m_queue->setRestoredIDs({});
    for (const QUuid &id : restored) {
        if (const Transfer *t = m_queue->find(id)) {
            TransferQueue::removePartials(*t);
            m_queue->removeCheckpoint(id);
            m_queue->remove(id);
        }
    }
}

qint64 AppModel::restoredBytesLeft() const
{
    qint64 left = 0;
    for (const Transfer &t : m_queue->transfers()) {
        if (m_queue->restoredIDs().contains(t.id))
            left += std::max<qint64>(t.total - t.done, 0);
    }
    return left;
}

void AppModel::setAutoResumeTransfers(bool on)
{
    QSettings().setValue(autoResumeKey, on);
    publish(m_autoResumeTransfers, on, &AppModel::autoResumeTransfersChanged);
}

} // namespace Tarnwick
