#include "enqueue.h"

#include "async/async.h"
#include "records/partialdownload.h"
#include "records/localnames.h"
#include "transferqueue.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>

namespace Tarnwick::Enqueue {

QList<Transfer> uploads(QStringList paths, const QString &parent, const QString &cloudPath)
{
    paths.removeIf([](const QString &path) { return !QDir::isAbsolutePath(path); });
    for (QString &path : paths)
        path = QDir::cleanPath(path);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    QList<Transfer> transfers;
    for (const QString &path : std::as_const(paths)) {
        Transfer transfer = Transfer::waiting(lastPathComponent(path));
        transfer.source = path;
        transfer.parent = parent;
        transfer.sourcePath = path;
        transfer.destinationPath = cloudPath + u'/' + transfer.name;
        transfers.append(std::move(transfer));
    }
    return transfers;
}

Transfer download(const DriveFile &file, const QString &destination, const QString &cloudPath)
{
    Transfer transfer = Transfer::waiting(file.name);
    transfer.remoteFile = file;
    transfer.destination = destination;
    transfer.sourcePath = cloudPath + u'/' + file.name;
    transfer.destinationPath = destination;
    transfer.total = file.isFolder() ? 0 : std::max<qint64>(file.bytes(), 0);
    return transfer;
}

QSet<QString> takenNames(const TransferQueue &queue, const QString &folder)
{
    QSet<QString> taken;
    const QString cleanFolder = QDir::cleanPath(folder);
    for (const Transfer &t : queue.transfers()) {
        if (!t.isUpload() && t.destination && !isFinished(t.state)
            && QDir::cleanPath(QFileInfo(*t.destination).path()) == cleanFolder)
            taken.insert(lastPathComponent(*t.destination));
    }
    return taken;
}

namespace {

// Whether a new download of file may take over the part file at destination: only a part file of
// this very version (its stamp) with no file in its place, and that no transfer still in the
// queue is about to write. A failed download of the same item into the same folder (after a full
// disk, say) then goes on from where it stopped instead of leaving its part file beside a second
// copy; the failed transfer goes, without taking the part file along.
bool takesOverPart(TransferQueue &queue, const DriveFile &file, const QString &destination)
{
    const QString part = LocalNames::partPath(destination);
    const QFileInfo info(part);
    if (LocalNames::pathExists(destination) || !info.isFile() || info.isSymLink()
        || PartialDownload::readStamp(part) != PartialDownload::stamp(file))
        return false;
    QList<QUuid> failed;
    for (const Transfer &t : queue.transfers()) {
        if (t.isUpload() || t.destination != destination)
            continue;
        if (t.state == TransferState::Failed)
            failed.append(t.id);
        else if (!isFinished(t.state))
            return false;
    }
    for (const QUuid &id : std::as_const(failed)) {
        queue.removeCheckpoint(id);
        queue.remove(id);
    }
    return true;
}

} // namespace

QCoro::Task<QString> destination(TransferQueue *queue, DriveFile file, QString folder,
                                 QSet<QString> *reserved, ContinueInto continueInto)
{
    QPointer<TransferQueue> guard(queue);
    QSet<QString> fresh;
    const QString natural = LocalNames::availableDestination(
        file.name, folder, fresh, [](const QString &) { return false; });
    const QString name = lastPathComponent(natural);
    if (file.isFolder() && !reserved->contains(name) && QFileInfo(natural).isDir()
        && !QFileInfo(natural).isSymLink()) {
        auto asking = continueInto(name);
        const bool into = co_await asking;
        if (!guard)
            throw Cancelled();
        if (into) {
            reserved->insert(name);
            co_return natural;
        }
    }
    if (!file.isFolder() && !reserved->contains(name) && takesOverPart(*guard, file, natural)) {
        reserved->insert(name);
        co_return natural;
    }
    co_return LocalNames::availableDestination(file.name, folder, *reserved);
}

} // namespace Tarnwick::Enqueue
