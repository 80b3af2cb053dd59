#include "savedtransfer.h"

#include "drive/decodingerror.h"
#include "drive/jsonreader.h"
#include "records/errors.h"
#include "records/writefully.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QStandardPaths>

#include <atomic>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

QJsonObject stringMap(const QHash<QString, QString> &map)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        object.insert(it.key(), it.value());
    return object;
}

QHash<QString, QString> readStringMap(const QJsonValue &value, QLatin1StringView key)
{
    if (!value.isObject())
        throw DecodingError::wrongType("UploadCheckpoint"_L1, key, "object"_L1);
    QHash<QString, QString> map;
    const QJsonObject object = value.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            throw DecodingError::wrongType("UploadCheckpoint"_L1, key, "string"_L1);
        map.insert(it.key(), it.value().toString());
    }
    return map;
}

} // namespace

QJsonObject UploadCheckpoint::toJson() const
{
    QJsonArray done;
    for (const QString &path : finished)
        done.append(path);
    QJsonObject open;
    for (auto it = sessions.begin(); it != sessions.end(); ++it)
        open.insert(it.key(), it.value().toJson());
    return QJsonObject{{u"folders"_s, stringMap(folders)},
                       {u"finished"_s, done},
                       {u"sessions"_s, open},
                       {u"reserved"_s, stringMap(reserved)}};
}

UploadCheckpoint UploadCheckpoint::fromJson(const QJsonObject &object)
{
    const JsonReader read(object, "UploadCheckpoint"_L1);
    UploadCheckpoint checkpoint;
    checkpoint.folders = readStringMap(read.requiredValue("folders"_L1), "folders"_L1);
    const QJsonValue finished = read.requiredValue("finished"_L1);
    if (!finished.isArray())
        throw DecodingError::wrongType("UploadCheckpoint"_L1, "finished"_L1, "array"_L1);
    for (const QJsonValue &path : finished.toArray()) {
        if (!path.isString())
            throw DecodingError::wrongType("UploadCheckpoint"_L1, "finished"_L1, "string"_L1);
        checkpoint.finished.insert(path.toString());
    }
    const QJsonValue sessions = read.requiredValue("sessions"_L1);
    if (!sessions.isObject())
        throw DecodingError::wrongType("UploadCheckpoint"_L1, "sessions"_L1, "object"_L1);
    const QJsonObject open = sessions.toObject();
    for (auto it = open.begin(); it != open.end(); ++it)
        checkpoint.sessions.insert(it.key(), UploadSession::fromJson(
                                                 JsonReader::asObject(it.value(), "UploadSession"_L1)));
    if (const auto reserved = read.optionalValue("reserved"_L1))
        checkpoint.reserved = readStringMap(*reserved, "reserved"_L1);
    return checkpoint;
}

SavedTransfer SavedTransfer::from(const Transfer &transfer, std::optional<UploadCheckpoint> checkpoint)
{
    return SavedTransfer{transfer.id,
                         transfer.name,
                         transfer.source,
                         transfer.parent,
                         transfer.remoteFile,
                         transfer.destination,
                         transfer.sourcePath,
                         transfer.destinationPath,
                         transfer.state == TransferState::Paused,
                         transfer.done,
                         transfer.total,
                         std::move(checkpoint),
                         transfer.state == TransferState::Failed
                             ? std::optional<QString>(transfer.detail)
                             : std::nullopt};
}

Transfer SavedTransfer::restored() const
{
    Transfer t;
    t.id = id;
    t.name = name;
    t.source = source;
    t.parent = parent;
    t.remoteFile = remoteFile;
    t.destination = destination;
    t.sourcePath = sourcePath;
    t.destinationPath = destinationPath;
    t.state = TransferState::Paused;
    t.done = done;
    t.total = total;
    t.detail = TransferDetail::restored();
    if (failure) {
        t.state = TransferState::Failed;
        t.detail = *failure;
    }
    return t;
}

QJsonObject SavedTransfer::toJson() const
{
    QJsonObject object{{u"id"_s, id.toString(QUuid::WithoutBraces).toUpper()},
                       {u"name"_s, name},
                       {u"parent"_s, parent},
                       {u"sourcePath"_s, sourcePath},
                       {u"destinationPath"_s, destinationPath},
                       {u"paused"_s, paused},
                       {u"done"_s, done},
                       {u"total"_s, total}};
    if (source)
        object.insert(u"source"_s, *source);
    if (remoteFile)
        object.insert(u"remoteFile"_s, remoteFile->toJson());
    if (destination)
        object.insert(u"destination"_s, *destination);
    if (checkpoint)
        object.insert(u"checkpoint"_s, checkpoint->toJson());
    if (failure)
        object.insert(u"failure"_s, *failure);
    return object;
}

SavedTransfer SavedTransfer::fromJson(const QJsonObject &object)
{
    const JsonReader read(object, "SavedTransfer"_L1);
    SavedTransfer saved;
    saved.id = QUuid::fromString(read.requiredString("id"_L1));
    if (saved.id.isNull())
        throw DecodingError::wrongType("SavedTransfer"_L1, "id"_L1, "UUID"_L1);
    saved.name = read.requiredString("name"_L1);
    saved.source = read.optionalString("source"_L1);
    saved.parent = read.requiredString("parent"_L1);
    if (const auto file = read.optionalValue("remoteFile"_L1))
        saved.remoteFile = DriveFile::fromJson(JsonReader::asObject(*file, "DriveFile"_L1));
    saved.destination = read.optionalString("destination"_L1);
    saved.sourcePath = read.requiredString("sourcePath"_L1);
    saved.destinationPath = read.requiredString("destinationPath"_L1);
    saved.paused = read.requiredBool("paused"_L1);
    saved.done = read.requiredInt64("done"_L1);
    saved.total = read.requiredInt64("total"_L1);
    if (const auto checkpoint = read.optionalValue("checkpoint"_L1))
        saved.checkpoint =
            UploadCheckpoint::fromJson(JsonReader::asObject(*checkpoint, "UploadCheckpoint"_L1));
    saved.failure = read.optionalString("failure"_L1);
    // Paths come back from a file anyone with the user's rights may edit: only absolute ones.
    const auto absolute = [](const std::optional<QString> &path) {
        return !path || QDir::isAbsolutePath(*path);
    };
    if (!absolute(saved.source) || !absolute(saved.destination) || (!saved.source && !saved.remoteFile))
        throw DecodingError::wrongType("SavedTransfer"_L1, "source"_L1, "absolute path"_L1);
    return saved;
}

namespace TransferStore {

QString fileURL()
{
    // Under the application's name: the demo ("Tarnwick Demo") keeps its queue apart from the
    // user's, so its restore prompt can never discard the user's part files.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u'/'
           + QCoreApplication::applicationName() + u"/transfers.json"_s;
}

QByteArray encode(const QList<SavedTransfer> &transfers)
{
    QJsonArray array;
    for (const SavedTransfer &saved : transfers)
        array.append(saved.toJson());
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QList<SavedTransfer> decode(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        throw DecodingError::wrongType("SavedTransfer"_L1, "(file)"_L1, "array"_L1);
    QList<SavedTransfer> transfers;
    for (const QJsonValue &value : document.array())
        transfers.append(SavedTransfer::fromJson(JsonReader::asObject(value, "SavedTransfer"_L1)));
    return transfers;
}

namespace {

void logFailure(const QString &reason)
{
    qWarning().noquote() << u"Tarnwick: không lưu được hàng đợi: "_s + reason;
}

// Flushes a folder's entries, so a rename inside it survives a power cut.
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

namespace {
std::atomic<quint64> lastSequence{0};
QMutex writing;
quint64 lastWritten = 0; // guarded by writing
} // namespace

quint64 nextSequence()
{
    return ++lastSequence;
}

void save(const QList<SavedTransfer> &transfers)
{
    save(transfers, nextSequence());
}

void save(const QList<SavedTransfer> &transfers, quint64 sequence)
{
    const QMutexLocker lock(&writing);
    if (sequence <= lastWritten)
        return;
    lastWritten = sequence;
    const QString path = fileURL();
    const QString folder = QFileInfo(path).path();
    if (transfers.isEmpty()) {
        if (QFile::remove(path))
            syncFolder(folder);
        return;
    }
    if (!QDir().mkpath(folder)) {
        logFailure(u"không tạo được thư mục "_s + folder);
        return;
    }
    const QByteArray bytes = encode(transfers);
    const QString temporary = path + u".tmp"_s;
    const QByteArray encoded = QFile::encodeName(temporary);
    const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        logFailure(SystemError::fromErrno(errno).description());
        return;
    }
    const int writeError = writeFully(fd, bytes.constData(), bytes.size());
    bool ok = writeError == 0;
    if (ok && ::fsync(fd) != 0)
        ok = false;
    ::close(fd);
    if (!ok || ::rename(encoded.constData(), QFile::encodeName(path).constData()) != 0) {
        logFailure(SystemError::fromErrno(ok ? errno : writeError).description());
        ::unlink(encoded.constData());
        return;
    }
    syncFolder(folder);
}

QList<SavedTransfer> load()
{
    const QString path = fileURL();
    QFile file(path);
    if (!file.exists())
        return {};
    QByteArray bytes;
    bool readable = file.open(QIODevice::ReadOnly);
    if (readable)
        bytes = file.readAll();
    readable = readable && file.error() == QFileDevice::NoError;
    file.close();
    if (readable) {
        try {
            return decode(bytes);
        } catch (const std::exception &) {
        }
    }
    // Kept aside rather than overwritten: its upload sessions and checkpoints may still matter.
    const QString aside = path + u".bad"_s;
    QFile::remove(aside);
    QFile::rename(path, aside);
    qWarning().noquote() << u"Tarnwick: không đọc được hàng đợi đã lưu, đã chuyển sang "_s + aside;
    return {};
}

} // namespace TransferStore

} // namespace Tarnwick
