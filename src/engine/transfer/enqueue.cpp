#include "enqueue.h"

#include "async/async.h"
#include "async/backgroundcall.h"
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

// What is on disk where a download would go, looked at off the main thread.
struct PlaceOnDisk
{
    bool folder = false; // a real folder, not a link, at the natural name
    bool part = false;   // this version's part file at the natural name, and no file in its place
    QString free;        // the first free name, the batch's reserved names skipped
};

PlaceOnDisk lookAtPlace(const DriveFile &file, const QString &natural, const QString &folder,
                        QSet<QString> reserved)
{
    PlaceOnDisk place;
    const QFileInfo there(natural);
    place.folder = there.isDir() && !there.isSymLink();
    const QString part = LocalNames::partPath(natural);
    const QFileInfo partInfo(part);
    place.part = !file.isFolder() && !LocalNames::pathExists(natural) && partInfo.isFile()
                 && !partInfo.isSymLink()
                 && PartialDownload::readStamp(part) == PartialDownload::stamp(file);
    place.free = LocalNames::availableDestination(file.name, folder, reserved);
    return place;
}

// Whether a new download may take over the part file of its version found at destination: no
// transfer still in the queue is about to write there. A failed download of the same item into
// the same folder (after a full disk, say) then goes on from where it stopped instead of leaving
// its part file beside a second copy; the failed transfer goes, without taking the part file.
bool takesOverPart(TransferQueue &queue, const QString &destination)
{
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
    auto looking = runInBackground<PlaceOnDisk>(
        [file, natural, folder, taken = *reserved] { return lookAtPlace(file, natural, folder, taken); });
    const PlaceOnDisk place = co_await looking;
    if (!guard)
        throw Cancelled();
    if (file.isFolder() && !reserved->contains(name) && place.folder) {
        auto asking = continueInto(name);
        const bool into = co_await asking;
        if (!guard)
            throw Cancelled();
        if (into) {
            reserved->insert(name);
            co_return natural;
        }
    }
    if (!reserved->contains(name) && place.part && takesOverPart(*guard, natural)) {
        reserved->insert(name);
        co_return natural;
    }
    reserved->insert(lastPathComponent(place.free));
    co_return place.free;
}

} // namespace Tarnwick::Enqueue
