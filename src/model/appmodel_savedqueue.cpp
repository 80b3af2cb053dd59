#include "appmodel.h"

#include "transfer/queuesaver.h"
#include "transfer/transferqueue.h"

#include <QSettings>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString AppModel::autoResumeKey = u"auto-resume-transfers"_s;

void AppModel::saveQueueNow()
{
    m_queue->saver().saveNow();
}

void AppModel::flushQueueSave()
{
    m_queue->saver().flush();
}

void AppModel::restoreSavedQueue()
{
    const int waiting = m_queue->restoreSaved();
    if (m_queue->transfers().isEmpty())
        return;
    setShowTransfers(true);
    if (waiting == 0)
        return;
    if (m_autoResumeTransfers)
        resumeRestored();
    else
        publish(m_restoredPrompt, std::optional<int>(waiting), &AppModel::restoredPromptChanged);
}

void AppModel::resumeRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    m_queue->resumeRestored();
}

void AppModel::postponeRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    m_queue->setRestoredIDs({});
}

void AppModel::discardRestored()
{
    publish(m_restoredPrompt, std::optional<int>(), &AppModel::restoredPromptChanged);
    m_queue->discardRestored();
}

qint64 AppModel::restoredBytesLeft() const
{
    return m_queue->restoredBytesLeft();
}

void AppModel::setAutoResumeTransfers(bool on)
{
    QSettings().setValue(autoResumeKey, on);
    publish(m_autoResumeTransfers, on, &AppModel::autoResumeTransfersChanged);
}

} // namespace Tarnwick
