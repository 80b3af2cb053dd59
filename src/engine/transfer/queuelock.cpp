#include "queuelock.h"

#include "savedtransfer.h"

#include <QDir>
#include <QFileInfo>

namespace Tarnwick {

QueueLock::QueueLock()
    : m_file(TransferStore::fileURL() + QStringLiteral(".lock"))
{
    // Only a dead holder makes the lock stale, never its age: a long transfer keeps it.
    m_file.setStaleLockTime(0);
}

bool QueueLock::tryLock()
{
    if (m_file.isLocked())
        return true;
    QDir().mkpath(QFileInfo(m_file.fileName()).path());
    return m_file.tryLock(0);
}

} // namespace Tarnwick
