#pragma once

#include "queue/queuetexts.h"

#include <QDateTime>

namespace Tarnwick {

// Everything the queue panel paints for one transfer row, worked out when the row changes (a few
// times a second at most) rather than at each of the many paints in between.
struct TransferLook
{
    QString directionSymbol;
    TransferEnd source;
    TransferEnd destination;
    QString sourceSymbol;
    QString destinationSymbol;
    QueueTexts::SubLine subLine; // its text already made safe to show
    bool failed = false;
    QueueTexts::Status status;
    QString size;
    bool preparing = false;
    QString progress; // shown while preparing
    int percent = 0;
    QString percentLabel;
    QString speed;
    QString remaining;
    QString elapsed; // moves with the clock: set again each second while working
    QList<QueueTexts::RowButton> buttons;

    static TransferLook of(const Transfer &t, const QDateTime &now);
};

// The same for the row of one file in flight.
struct WorkerLook
{
    QString name;
    QString source;
    QString destination;
    QString size;
    QString progress;
    int percent = 0;
    QString speed;
    QString remaining;

    static WorkerLook of(const FileInFlight &w);
};

} // namespace Tarnwick
