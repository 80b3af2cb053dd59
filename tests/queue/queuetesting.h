#pragma once

#include "../model/modeltesting.h"

#include "transfer/transfer.h"

#include <QTemporaryDir>

namespace Tarnwick::Testing {

// The transfers slice alone over the emulator's signed-in account, with a local folder of the
// test's own shown in place of the local pane and My Drive's root in place of the Drive pane, and
// helpers to watch transfers. Tests of the window or of the start-up put a whole signed-in model
// in its place with useModel().
class QueueTest : public ModelTest
{
protected:
    QueueTest();
    ~QueueTest() override;

    // Replaces the slice by a signed-in model's, its local pane showing the test's folder.
    void useModel();
    // Ends the slice or the model, as a quit would (nothing saves on the way).
    void quit();
    // After a quit: a new model over the same settings, keychain and saved queue, not started.
    void replaceModel();
    // The same, started as the next start of the application would.
    void startModel();

    QString local(const QString &name) const { return localDir.filePath(name); }
    const Transfer *transfer(const QUuid &id) const;
    // The transfer in row; the test fails when there is none.
    const Transfer &at(qsizetype row) const;
    QUuid idAt(qsizetype row) const { return at(row).id; }
    // Waits until the transfer reaches state (or the 10 s test limit passes).
    bool reaches(const QUuid &id, TransferState state) const;
    bool allFinished() const;
    QList<TransferState> states() const;

    // The Drive client of the slice the test drives.
    const DriveClient &drive() const;
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
    // Present after useModel() or startModel().
    std::unique_ptr<AppModel> model;
    // The slice the test drives: the fixture's own, or the model's.
    Transfers *transfers = nullptr;

private:
    QString m_token;
    std::optional<DriveClient> m_ownClient;
    std::unique_ptr<Transfers> m_ownTransfers;
};

} // namespace Tarnwick::Testing
