#pragma once

#include "../model/modeltesting.h"

#include "transfer/transfer.h"

#include <QTemporaryDir>

namespace Tarnwick::Testing {

// A signed-in model with a local folder of the test's own, and helpers to watch transfers.
class QueueTest : public ModelTest
{
protected:
    QueueTest();
    ~QueueTest() override;

    QString local(const QString &name) const { return localDir.filePath(name); }
    const Transfer *transfer(const QUuid &id) const;
    // The transfer in row; the test fails when there is none.
    const Transfer &at(qsizetype row) const;
    QUuid idAt(qsizetype row) const { return at(row).id; }
    // Waits until the transfer reaches state (or the 10 s test limit passes).
    bool reaches(const QUuid &id, TransferState state) const;
    bool allFinished() const;
    QList<TransferState> states() const;

    DriveFile driveFile(const QString &id) const;
    // Downloads the items into folder as a drop on the local pane would.
    void download(const QList<DriveFile> &files, const QString &folder);
    void upload(const QStringList &paths);
    // Holds every download of this item back to bytesPerSecond.
    int throttleMedia(const QString &id, qint64 bytesPerSecond);
    QList<Emulator::RequestRecord> mediaRequests(const QString &id) const;
    static QString sha256OfFile(const QString &path);
    static QByteArray bytes(qint64 size, quint64 seed)
    {
        return Emulator::DriveEmulator::generatedBytes(seed, 0, size);
    }
    // The local tree below root as relative path → SHA-256, folders as "/".
    static QMap<QString, QString> localTree(const QString &root);
    // The Drive tree below folderId as relative path → SHA-256, folders as "/".
    QMap<QString, QString> driveTree(const QString &folderId) const;

    QTemporaryDir localDir;
    std::unique_ptr<AppModel> model;
};

} // namespace Tarnwick::Testing
