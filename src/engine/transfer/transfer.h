#pragma once

#include "drive/drivefile.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace Tarnwick {

// The six states of a transfer; the last three are finished.
enum class TransferState { Waiting, Working, Paused, Done, Failed, Cancelled };

bool isFinished(TransferState state);
// The state's stable key for scripts: "waiting", "working", "paused", "done", "failed",
// "cancelled".
const char *stateKey(TransferState state);

// The last component of a local path, trailing slashes ignored ("/" stays "/").
QString lastPathComponent(const QString &path);

// One file in flight inside a transfer: a sub-row of the queue panel.
struct FileInFlight
{
    int id = 0;        // the worker slot moving the file: 0, 1, 2… inside the transfer's pool
    int fileIndex = 0; // 1-based, in planning order
    int totalFiles = 0;
    QString fileName;
    QString sourcePath;      // upload: the local path; download: the Drive display path
    QString destinationPath; // upload: the Drive display path; download: the local path
    qint64 done = 0;
    qint64 total = 0;
    double speed = 0; // the whole transfer's speed: there is no meter per file
    bool isUpload = false;

    bool operator==(const FileInFlight &) const = default;
    // 0…100, truncated; 0 while the size is unknown.
    int percentage() const;
};

// Which side an end of a transfer is on, and its display path.
struct TransferEnd
{
    bool isCloud = false;
    QString path;
    bool operator==(const TransferEnd &) const = default;
};

// One queued job: an upload of a local file or folder, or a download of a Drive file or folder.
// Whether `source` is present is what makes it an upload.
struct Transfer
{
    QUuid id;
    QString name; // the local item's last path component, or the Drive item's name
    std::optional<QString> source; // upload: the local file or folder (absolute path)
    QString parent;                // upload: the receiving Drive folder ("root" for My Drive)
    std::optional<DriveFile> remoteFile;   // download: the Drive item
    std::optional<QString> destination;    // download: the local file or folder to create
    QString sourcePath;
    QString destinationPath;
    TransferState state = TransferState::Waiting;
    qint64 done = 0;  // bytes finished over all files, in-flight bytes included
    qint64 total = 0; // 0 until planning has measured it
    double speed = 0;
    int currentFileIndex = 1;
    int totalFilesCount = 1;
    QString currentFileName;
    QString detail;
    std::optional<QDateTime> started;
    QList<FileInFlight> filesInFlight; // sorted by worker id
    bool planning = false; // a run started and has not counted its files yet
    // While a request of the run waits for Google's rate limits: when it is sent again.
    QDateTime limitedUntil;
    // Why the engine paused it (a full Drive, the daily cap); empty when the user did.
    QString heldBecause;

    bool operator==(const Transfer &) const = default;

    bool isUpload() const { return source.has_value(); }
    // 0…100: bytes when the total is known, else the file position.
    int percentage() const;
    // Working but still scanning or walking its tree: there is no percentage to show yet.
    bool preparing() const { return state == TransferState::Working && planning; }
    TransferEnd displaySource() const;
    TransferEnd displayDestination() const;

    // The file worker `id` moves now: its sub-row starts over (or is added).
    void beginFile(int id, int fileIndex, int totalFiles, const QString &fileName,
                   const QString &sourcePath, const QString &destinationPath, qint64 totalBytes,
                   bool isUpload);
    // Bytes of worker `id`'s file done so far, and the transfer's speed.
    void fileProgress(int id, qint64 done, double speed);
    // Worker `id`'s file is no longer in flight.
    void endFile(int id);

    // The fresh waiting record every enqueue starts from.
    static Transfer waiting(QString name);
};

// The "Đang chờ" family of detail texts and the others the engine sets.
namespace TransferDetail {
QString queued();   // created by an enqueue
QString requeued(); // put back by resume or retry
QString preparing();
QString scanningFolder();
QString preparingDownload();
QString preparingUpload();
QString creatingFolder(const QString &name);
QString fileStarted(const QString &name, int index, int count);
QString skippedDownload(const QString &name);
QString skippedUpload(const QString &name);
QString emptyFolder();
QString finished();
QString cancelled();
QString paused();
// A request waits for Google's rate limits and goes again at `until` (whole seconds from now,
// rounded up).
QString limitWait(const QDateTime &until);
QString restored();
} // namespace TransferDetail

} // namespace Tarnwick
