#pragma once

#include "drive/driveclient.h"
#include "drive/drivefile.h"
#include "records/downloaddropitem.h"
#include "transfer/transfer.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

namespace Tarnwick {

class Desktop;
class TransferQueue;

// The transfers slice: the user's operations on the engine's queue (TransferQueue, which the
// slice owns), the uploads and downloads the window starts, the saved queue's restore prompt and
// the link sheet's state. Failures go out as failed(); showRequested() asks for the queue panel
// and signInRequested() for the connection screen.
//
// What it needs of the two panes comes through Panes, which the owner wires; without it the
// slice still runs transfers into given folders. Main thread only.
class Transfers final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Transfers)

public:
    // A Drive folder that takes uploads, and its path as the queue shows it.
    struct UploadTarget
    {
        QString parent;
        QString cloudPath;
    };

    // What the slice reads from the panes. An empty callback reads as: no local folder shown,
    // nothing selected, no Drive folder that takes uploads.
    struct Panes
    {
        // The local pane's folder.
        std::function<std::optional<QString>()> localFolder;
        // The local pane's selected folders (or files), in list order.
        std::function<QStringList(bool folders)> localSelection;
        // Lists a folder in the local pane (after a download into another one).
        std::function<QCoro::Task<>(QString folder)> showLocalFolder;
        // The Drive folder shown, when it takes uploads.
        std::function<std::optional<UploadTarget>()> uploadTarget;
        // The Drive pane's place as a Drive path (the source shown for downloads).
        std::function<QString()> cloudPath;
        // The Drive pane's selected items, in listing order.
        std::function<QList<DriveFile>()> cloudSelection;
        // The Drive pane's busy state, while a link's item is looked up.
        std::function<void(bool busy)> setBusy;
    };

    // desktop is not owned and outlives the slice; drive is its own copy of the model's client;
    // signedIn tells whether an account is connected (transfers wait for one).
    Transfers(Desktop &desktop, DriveClient drive, std::function<bool()> signedIn,
              QObject *parent = nullptr);
    // Stops the queue's runs first: they use the Drive client and the desktop.
    ~Transfers() override;

    void setPanes(Panes panes) { m_panes = std::move(panes); }

    Desktop &desktop() const { return m_desktop; }

    TransferQueue &queue() const { return *m_queue; }
    const QList<Transfer> &list() const;
    // Running and waiting transfers: they forbid signing out and make quitting ask first.
    int pendingTransferCount() const;
    void pauseTransfer(const QUuid &id);
    // Resume and retry.
    void resumeTransfer(const QUuid &id);
    void resumeAllPaused();
    void cancelTransfer(const QUuid &id);
    void clearFinished();

    // Uploads: one waiting transfer per local item into the Drive pane's folder; refused with a
    // message when the pane shows no folder that takes uploads, and asks for a sign-in when
    // signed out.
    void enqueueUploads(QStringList paths);
    // The same into a given Drive folder, shown as cloudPath, without the pane's checks.
    void enqueueUploads(QStringList paths, QString parent, QString cloudPath);
    // Lets the user pick files to upload ("Tải lên…"), starting in the local pane's folder with
    // its selected files picked.
    QCoro::Task<> chooseUpload();
    // The same for one folder ("Tải thư mục lên…"): file pickers cannot take both at once.
    QCoro::Task<> chooseUploadFolder();
    // Whether a chooser may open: a Drive folder that takes uploads is shown (else the sign-in
    // screen is asked for when signed out).
    bool readyToChooseUploads();

    // Downloads: one waiting transfer per item into folder; Google documents open in the
    // browser instead. Names already taken in the folder get " 2", " 3"…; a Drive folder whose
    // name is an existing local folder asks whether to continue into it.
    QCoro::Task<> enqueueDownloads(QList<DriveFile> files, QString folder);
    // "Tải xuống…" for the Drive pane's selection.
    QCoro::Task<> downloadSelected();
    // Whether downloadSelected() has anything to download: Google documents open in the browser.
    bool canDownloadSelection() const;
    QCoro::Task<> downloadFile(DriveFile file);
    // Where an item goes in folder; reserved holds the names the batch has taken. A file whose
    // stamped part file lies at its natural name (an earlier download that failed) goes there.
    QCoro::Task<QString> downloadDestination(DriveFile file, QString folder,
                                             QSet<QString> *reserved);
    // Drive rows dropped on the local pane (dragging one of several selected rows takes all).
    QCoro::Task<> acceptCloudDropFiles(QList<DriveFile> files);
    // Anything dropped on the local pane: Drive rows, or links and text holding a Drive link.
    QCoro::Task<> acceptDropItems(QList<DownloadDropItem> items);
    // The link sheet's action: looks the item up and downloads it into destinationFolder (or the
    // local pane's folder).
    QCoro::Task<> downloadFromDriveID(QString id, std::optional<QString> destinationFolder);

    // --- The saved queue: unfinished transfers come back at the next start ---

    // The saved queue is kept by the engine (TransferQueue::saver()); these are the shell's calls.
    void saveQueueNow();
    // A save still waiting, now and on this thread; the shell calls it at exit.
    void flushQueueSave();
    // Once at start: the saved transfers come back paused, then continue by themselves or the
    // restore prompt asks.
    void restoreSavedQueue();
    // The restore prompt is shown for this many transfers while present.
    const std::optional<int> &restoredPrompt() const { return m_restoredPrompt; }
    // "Tiếp tục" (also auto-resume and after a sign-in): resumes the restored transfers, or asks
    // for a sign-in first.
    void resumeRestored();
    // "Để sau": the restored transfers stay paused in the queue.
    void postponeRestored();
    // "Bỏ các tác vụ này": the restored transfers, their part files and checkpoints go.
    void discardRestored();
    // Bytes the restored transfers still have to move.
    qint64 restoredBytesLeft() const;
    // Mirrors "auto-resume-transfers"; setting it writes the setting at once.
    bool autoResumeTransfers() const { return m_autoResumeTransfers; }
    void setAutoResumeTransfers(bool on);
    // Transfers wait for a sign-in before they resume; the next successful sign-in consumes it.
    bool resumeAfterLogin() const { return m_resumeAfterLogin; }
    void setResumeAfterLogin(bool resume) { m_resumeAfterLogin = resume; }
    // A sign-in succeeded: the transfers that waited for it resume.
    void signedIn();

    // The link sheet's state.
    const QString &linkToDownload() const { return m_linkToDownload; }
    void setLinkToDownload(QString link);
    const std::optional<QString> &customDownloadFolder() const { return m_customDownloadFolder; }
    void setCustomDownloadFolder(std::optional<QString> folder);
    bool showLinkDownload() const { return m_showLinkDownload; }
    void setShowLinkDownload(bool show);

    // Settings key.
    static const QString autoResumeKey;

signals:
    // Any change of the queue; rows announce themselves through queue().
    void transfersChanged();
    void restoredPromptChanged();
    void autoResumeTransfersChanged();
    void linkToDownloadChanged();
    void customDownloadFolderChanged();
    void showLinkDownloadChanged();
    // New transfers were queued: the queue panel should show.
    void showRequested();
    // Transfers need a signed-in account: the connection screen should show.
    void signInRequested();
    // A failure for the window's alert.
    void failed(const QString &message);

private:
    // The panes as Panes tells them, empty where a callback is missing.
    std::optional<QString> localFolder() const;
    QStringList localSelection(bool folders) const;
    std::optional<UploadTarget> uploadTarget() const;
    QString cloudPath() const;
    QList<DriveFile> cloudSelection() const;
    // Lists folder in the local pane unless it is the one shown.
    QCoro::Task<> showDownloadFolder(QString folder);
    void openInBrowser(const DriveFile &file);
    void setBusy(bool busy);

    Desktop &m_desktop;
    DriveClient m_drive;
    std::function<bool()> m_signedIn;
    Panes m_panes;
    TransferQueue *m_queue; // a child
    std::optional<int> m_restoredPrompt;
    bool m_autoResumeTransfers = false;
    bool m_resumeAfterLogin = false;
    QString m_linkToDownload;
    std::optional<QString> m_customDownloadFolder;
    bool m_showLinkDownload = false;
};

} // namespace Tarnwick
