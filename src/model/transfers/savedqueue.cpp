#include "transfers/transfers.h"

#include "publish.h"

#include "transfer/queuesaver.h"
#include "transfer/transferqueue.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString Transfers::autoResumeKey = u"auto-resume-transfers"_s;

void Transfers::saveQueueNow()
{
    m_queue->saver().saveNow();
}

void Transfers::flushQueueSave()
{
    m_queue->saver().flush();
}

void Transfers::restoreSavedQueue()
{
    const int waiting = m_queue->restoreSaved();
    if (m_queue->transfers().isEmpty())
        return;
    emit showRequested();
    if (waiting == 0)
        return;
    if (m_autoResumeTransfers)
        resumeRestored();
    else
        publish(this, m_restoredPrompt, std::optional<int>(waiting), &Transfers::restoredPromptChanged);
}

void Transfers::resumeRestored()
{
    publish(this, m_restoredPrompt, std::optional<int>(), &Transfers::restoredPromptChanged);
    m_queue->resumeRestored();
}

void Transfers::postponeRestored()
{
    publish(this, m_restoredPrompt, std::optional<int>(), &Transfers::restoredPromptChanged);
    m_queue->setRestoredIDs({});
}

void Transfers::discardRestored()
{
    publish(this, m_restoredPrompt, std::optional<int>(), &Transfers::restoredPromptChanged);
    m_queue->discardRestored();
}

qint64 Transfers::restoredBytesLeft() const
{
    return m_queue->restoredBytesLeft();
}

void Transfers::signedIn()
{
    if (!m_resumeAfterLogin)
        return;
    m_resumeAfterLogin = false;
    resumeRestored();
}

void Transfers::setAutoResumeTransfers(bool on)
{
    QSettings().setValue(autoResumeKey, on);
    publish(this, m_autoResumeTransfers, on, &Transfers::autoResumeTransfersChanged);
}

} // namespace Tarnwick
