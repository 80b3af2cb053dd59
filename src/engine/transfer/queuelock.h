#pragma once

#include <QLockFile>
#include <QString>

namespace Tarnwick {

// One process at a time runs the saved queue: the window and tarnwick-cli share it, and two
// processes resuming the same transfer would write the same part files and checkpoints. Held
// from tryLock() until the object goes; a lock left by a process that died is taken over.
class QueueLock final
{
public:
    // Next to the saved queue's file.
    QueueLock();
    QueueLock(const QueueLock &) = delete;
    QueueLock &operator=(const QueueLock &) = delete;

    // True when this process now holds the lock (or already did).
    bool tryLock();

private:
    QLockFile m_file;
};

} // namespace Tarnwick
