#pragma once

#include "transfer.h"
#include "uploadcheckpoint.h"

#include <QCoroTask>
#include <QObject>
#include <QUuid>

#include <functional>
#include <optional>

namespace Tarnwick {

// What a run and its worker pool tell their queue, and all they may ask of it: the progress of
// their transfer and its upload checkpoint. Runs hold it through a QPointer, so once the queue is
// gone their late reports go nowhere.
class RunReporter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Applies change to the transfer in place; a transfer no longer listed is not changed.
    virtual void update(const QUuid &id, const std::function<void(Transfer &)> &change) = 0;
    virtual std::optional<UploadCheckpoint> checkpoint(const QUuid &id) const = 0;
    // Changes the checkpoint (created empty when missing) and has it saved soon, off the main
    // thread, together with the changes made while a save is running.
    virtual void changeCheckpoint(const QUuid &id,
                                  const std::function<void(UploadCheckpoint &)> &change) = 0;
    // Ends once every checkpoint change made so far is on disk (reserved IDs, which a create
    // sent next relies on). The save runs off the main thread.
    virtual QCoro::Task<> checkpointsSaved() = 0;
};

} // namespace Tarnwick
