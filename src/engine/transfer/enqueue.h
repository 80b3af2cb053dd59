#pragma once

#include "drive/drivefile.h"
#include "transfer.h"

#include <QCoroTask>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace Tarnwick {

class TransferQueue;

// How new transfers are made: the records an upload or a download starts from and where a
// download lands on the disk.
namespace Enqueue {

// One waiting upload per local item into the Drive folder parent, shown as cloudPath: relative
// paths are dropped, the others cleaned and taken once each, in name order.
QList<Transfer> uploads(QStringList paths, const QString &parent, const QString &cloudPath);
// A waiting download of file to the local path destination; cloudPath is the Drive folder it is
// shown in.
Transfer download(const DriveFile &file, const QString &destination, const QString &cloudPath);

// The names that the queue's unfinished downloads into folder will take: a second download of
// the same item must not share their destination and part file.
QSet<QString> takenNames(const TransferQueue &queue, const QString &folder);

// Asked when a Drive folder's name is a local folder already (an earlier download that did not
// finish, maybe): true continues into it, false makes a new folder beside it.
using ContinueInto = std::function<QCoro::Task<bool>(QString name)>;

// Where a download of file goes in folder; reserved holds the names the batch has taken and gets
// this one. A file whose stamped part file lies at its natural name (an earlier download that
// failed) goes there and takes it over from the failed transfer, which leaves the queue. Every
// other name is made free (" 2", " 3"…) and safe. Throws Cancelled when the queue goes away while
// continueInto waits.
QCoro::Task<QString> destination(TransferQueue *queue, DriveFile file, QString folder,
                                 QSet<QString> *reserved, ContinueInto continueInto);

} // namespace Enqueue

} // namespace Tarnwick
