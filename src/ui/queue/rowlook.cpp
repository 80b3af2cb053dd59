#include "queue/rowlook.h"

#include "records/diskspaceutilities.h"
#include "records/displaytext.h"

using namespace Qt::StringLiterals;

namespace Tarnwick {

TransferLook TransferLook::of(const Transfer &t, const QDateTime &now)
{
    TransferLook look;
    look.directionSymbol = QueueTexts::directionSymbol(t);
    look.source = t.displaySource();
    look.destination = t.displayDestination();
    look.sourceSymbol = QueueTexts::endSymbol(t, look.source);
    look.destinationSymbol = QueueTexts::endSymbol(t, look.destination);
    look.subLine = QueueTexts::subLine(t);
    look.subLine.text = DisplayText::message(look.subLine.text);
    look.failed = t.state == TransferState::Failed;
    look.status = QueueTexts::status(t);
    look.size = QueueTexts::sizeText(t);
    look.preparing = t.preparing();
    look.progress = QueueTexts::progressText(t);
    look.percent = t.percentage();
    look.percentLabel = QString::number(look.percent) + u'%';
    look.speed = QueueTexts::speedText(t);
    look.remaining = QueueTexts::remainingText(t);
    look.elapsed = QueueTexts::elapsedText(t, now);
    look.buttons = QueueTexts::rowButtons(t);
    return look;
}

WorkerLook WorkerLook::of(const FileInFlight &w)
{
    WorkerLook look;
    look.name = QueueTexts::workerNameText(w);
    look.source = w.sourcePath;
    look.destination = w.destinationPath;
    look.size = DiskSpaceUtilities::formatTransferSize(w.done, w.total);
    look.progress = QueueTexts::workerProgressText(w);
    look.percent = w.percentage();
    look.speed = QueueTexts::workerSpeedText(w);
    look.remaining = QueueTexts::workerRemainingText(w);
    return look;
}

} // namespace Tarnwick
