#pragma once

#include "drive/drivefile.h"
#include "transfer.h"
#include "uploadcheckpoint.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace Tarnwick {

// The stored form of one unfinished transfer in the session file.
struct SavedTransfer
{
    QUuid id;
    QString name;
    std::optional<QString> source;
    QString parent;
    std::optional<DriveFile> remoteFile;
    std::optional<QString> destination;
    QString sourcePath;
    QString destinationPath;
    bool paused = false;
    qint64 done = 0;
    qint64 total = 0;
    std::optional<UploadCheckpoint> checkpoint;
    // Present for a failed transfer: its message. It comes back failed, for ↻ or "Bỏ".
    std::optional<QString> failure;

    bool operator==(const SavedTransfer &) const = default;

    static SavedTransfer from(const Transfer &transfer, std::optional<UploadCheckpoint> checkpoint);
    // The transfer as it comes back at start: paused, "Chưa xong từ lần trước"; a failed one
    // failed, with its message.
    Transfer restored() const;

    QJsonObject toJson() const;
    // Throws DecodingError for a missing required key or a value of the wrong type.
    static SavedTransfer fromJson(const QJsonObject &object);
};

// The session file: a JSON array of SavedTransfer in queue order.
namespace TransferStore {
// ~/.local/share/<application name>/transfers.json (XDG data home): Tarnwick, or Tarnwick Demo.
QString fileURL();
QByteArray encode(const QList<SavedTransfer> &transfers);
// Throws DecodingError when the bytes are not an array of saved transfers.
QList<SavedTransfer> decode(const QByteArray &bytes);
// Writes the list so that a crash or power cut leaves either the old or the new file whole
// (temporary file in the same folder, flushed, renamed over, folder flushed); an empty list
// deletes the file. Never throws: a failure is logged and the next save tries again.
void save(const QList<SavedTransfer> &transfers);
// A number for a snapshot of the queue, higher than every one handed out before.
quint64 nextSequence();
// save() from any thread, for the snapshot numbered sequence: saves run one at a time, and a
// snapshot older than one already written is dropped, so a slow save never overwrites a newer
// file.
void save(const QList<SavedTransfer> &transfers, quint64 sequence);
// What the file holds; empty when it is missing. A file that cannot be read or decoded is
// moved aside to "transfers.json.bad" (an earlier one replaced) with a log line, so the next save
// does not destroy what may still be recovered by hand.
QList<SavedTransfer> load();
} // namespace TransferStore

} // namespace Tarnwick
