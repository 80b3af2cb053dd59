#pragma once

#include "browse/crumb.h"
#include "drive/driveaccount.h"
#include "drive/drivefile.h"
#include "browse/drivelocation.h"
#include "drive/drivepermission.h"
#include "records/downloaddropitem.h"
#include "transfer/transfer.h"
#include "auth/keychainstore.h"
#include "browse/localfile.h"
#include "records/sortoption.h"
// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QUuid>

#include <memory>
#include <optional>

namespace Tarnwick {

class Desktop;
class DriveClient;
class GoogleAuth;
class ShareSheetForm;
class Sharing;
class TransferQueue;
class UpdateNotice;

// The one observable application object behind the window. Every view reads its published
// state (each member announces its changes with its own signal) and every user action is a call
// on it. It lives on the main thread; work that waits (dialogs, disk) returns a task that ends
// when the work is done, which callers may await or drop.
//
// The state is split by slice: appmodel.cpp holds what the slices share (notices, start-up),
// appmodel_local.cpp the local pane, appmodel_connection.cpp the sign-in and the account,
// appmodel_cloud.cpp the Drive pane, appmodel_transfers.cpp the transfer operations on the
// engine's queue (tarnwick_engine); sharing and the update checks are slice objects of their own
// (sharing(), updates()).
//
// Results that arrive late are guarded: a listing publishes only while it is the newest one
// (listVersion, renewed by every listing and by signing out), and account answers only while the
// sign-in they were asked for is still current.
class AppModel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppModel)

public:
    // desktop is not owned and must outlive the model.
    explicit AppModel(Desktop *desktop, QObject *parent = nullptr);
    // The sign-in keeps its tokens and developer configuration under keychain's service (tests
    // pass one of their own).
    AppModel(Desktop *desktop, KeychainStore keychain, QObject *parent = nullptr);
    ~AppModel() override;

    Desktop &desktop() const { return *m_desktop; }

    // The start-up sequence, run once by the application shell: restores the sign-in and mirrors
    // its flags (a failure goes to error), reopens the folder stored under "local-folder", starts
    // the daily update check without waiting for it, and when connected loads the account and
    // lists the Drive pane. Later runs do nothing.
    QCoro::Task<> initialize();
    bool initialized() const { return m_initialized; }

    // --- Shared notices and presentation flags ---

    // The text of the window's error alert; missing when there is none.
    const std::optional<QString> &error() const { return m_error; }
    void setError(std::optional<QString> error);
    // A short success notice the window shows and dismisses.
    const std::optional<QString> &toastMessage() const { return m_toastMessage; }
    void setToastMessage(std::optional<QString> message);
    // The connection screen is shown.
    bool showConnection() const { return m_showConnection; }
    void setShowConnection(bool show);
    // The transfer queue panel is shown.
    bool showTransfers() const { return m_showTransfers; }
    void setShowTransfers(bool show);

    // --- Local pane ---

    // The folder shown (an absolute path); missing until a folder has been listed once.
    const std::optional<QString> &localURL() const { return m_localURL; }
    // The entries of localURL in listing order: folders first, then by name.
    const QList<LocalFile> &localFiles() const { return m_localFiles; }
    // Selected entries by path.
    const QSet<QString> &localSelection() const { return m_localSelection; }
    void setLocalSelection(QSet<QString> selection);
    // The pane's filter text, used as typed.
    const QString &localSearch() const { return m_localSearch; }
    void setLocalSearch(QString search);
    // How the visible list is ordered; every change is stored under "sort-local".
    const SortOption &localSort() const { return m_localSort; }
    void setLocalSort(SortOption sort);

    // The entries of localFiles that pass the search, ordered by localSort. Computed on every
    // call.
    QList<LocalFile> visibleLocal() const;
    // The same computation on any list; safe to run on any thread.
    static QList<LocalFile> filterAndSortLocal(const QList<LocalFile> &files, const QString &search,
                                               const SortOption &sort);
    // Total size of the listed entries whose path is selected.
    qint64 localSelectedBytes() const;

    // Lists url off the main thread and makes it the shown folder; on failure the pane keeps
    // its state and error tells why. A result is dropped when a later listing has started.
    QCoro::Task<> navigateLocal(QString url);
    // navigateLocal unless a throttled refresh ran less than 2 seconds ago (then nothing).
    QCoro::Task<> navigateLocalThrottled(QString url);
    // Lets the user pick a folder, then lists it.
    QCoro::Task<> chooseLocal();
    // Moves the entries to the trash one by one, then re-lists the shown folder.
    QCoro::Task<> trashLocalFiles(QList<LocalFile> files);

    // --- Connection and account ---

    // The sign-in owner.
    GoogleAuth &auth() const { return *m_auth; }
    // The Drive client, created on first use and kept for the model's life (signing out keeps
    // it). Its token source holds the model weakly: once the model is gone it fails with
    // Cancelled.
    DriveClient &drive();

    bool connected() const { return m_connected; }
    // A Google configuration is present.
    bool configured() const { return m_configured; }
    // The application ships its own Google configuration.
    bool managedGoogle() const { return m_managedGoogle; }
    // A sign-in is running.
    bool connecting() const { return m_connecting; }
    // "Chưa kết nối" and "Google Drive" while nobody is signed in.
    const QString &accountName() const { return m_accountName; }
    const QString &accountEmail() const { return m_accountEmail; }
    const std::optional<DriveAccount::Quota> &quota() const { return m_quota; }
    // Why the last sign-in or configuration import failed (the connection screen shows it).
    const std::optional<QString> &connectionError() const { return m_connectionError; }
    void setConnectionError(std::optional<QString> error);
    // File name of the developer configuration imported in this run; empty when none.
    const QString &configurationName() const { return m_configurationName; }
    // Transfers wait for a sign-in before they resume; the next successful sign-in consumes it.
    bool resumeAfterLogin() const { return m_resumeAfterLogin; }
    void setResumeAfterLogin(bool resume) { m_resumeAfterLogin = resume; }
    // Bytes left on Drive: the quota's limit minus its usage, at least 0; missing unless both
    // are decimal numbers (an account without a limit has none).
    std::optional<qint64> cloudFreeSpace() const;

    // Starts the browser sign-in (nothing while one runs). Success shows My Drive's root, loads
    // the account and lists; a failure other than a cancellation goes to connectionError.
    void login();
    // Ends a running sign-in without any message.
    void cancelLogin();
    // Lets a developer pick a Google client JSON and installs it; failures go to
    // connectionError.
    QCoro::Task<> importConfiguration();
    // Signs out, refused (with error) while transfers run or wait. The configuration and the
    // Drive client stay, so the user can sign in again at once. (Hides QObject::disconnect on
    // purpose: callers of this class mean signing out.)
    QCoro::Task<> disconnect();
    // Fetches name, e-mail address and quota; written only while the same sign-in is still
    // connected. A failure goes to error.
    QCoro::Task<> loadAccount();

    // --- Drive pane ---

    DriveLocation location() const { return m_location; }
    // The folders entered below the area's root, outermost first.
    const QList<Crumb> &crumbs() const { return m_crumbs; }
    // The items of the shown folder in the order Drive listed them.
    const QList<DriveFile> &cloudFiles() const { return m_cloudFiles; }
    // Selected items by Drive ID.
    const QSet<QString> &cloudSelection() const { return m_cloudSelection; }
    void setCloudSelection(QSet<QString> selection);
    const QString &cloudSearch() const { return m_cloudSearch; }
    void setCloudSearch(QString search);
    // Every change is stored under "sort-cloud".
    const SortOption &cloudSort() const { return m_cloudSort; }
    void setCloudSort(SortOption sort);
    // The newest listing is still running.
    bool loading() const { return m_loading; }
    // Why the newest listing failed.
    const std::optional<QString> &cloudLoadError() const { return m_cloudLoadError; }

    // The folder listed and the one new folders and uploads go into: the last crumb's ID, or
    // "root".
    QString cloudParent() const;
    // Connected, and in My Drive or inside a folder (the roots of the shared areas take nothing).
    bool canUpload() const;
    // cloudFiles whose names contain cloudSearch (case-insensitive), ordered by cloudSort.
    QList<DriveFile> visibleCloud() const;
    qint64 cloudSelectedBytes() const;
    // "/" and the crumb names joined with "/", or "/" and the area's title at its root.
    QString currentCloudPath() const;

    // Lists the shown folder (nothing when signed out). Only the newest listing may publish its
    // items or error and end `loading`; the items stay on screen while it runs and when it fails.
    QCoro::Task<> refreshCloud();
    // "Làm mới", and after deletions: the listing, then the account with its quota.
    QCoro::Task<> refreshCloudAndAccount();
    // refreshCloud unless this path ran one less than 2 seconds ago (then nothing).
    QCoro::Task<> refreshCloudThrottled();
    // Navigation: each publishes its changes and starts a listing.
    // Shows the root of an area (also the one shown), clearing items, selection and search.
    void changeLocation(DriveLocation location);
    // Enters a folder (clearing items, selection and search) or opens any other item in the
    // browser.
    void openCloud(const DriveFile &file);
    // Goes up to the crumb at index (0 is the outermost); nothing when out of range.
    void navigateToCrumb(qsizetype index);
    // Goes up one level; nothing at the root.
    void goBackCloud();
    void navigateToCloudRoot();

    // Item operations; failures go to error.
    // Creates a folder in cloudParent(), then lists; nothing unless canUpload().
    QCoro::Task<> createFolder(QString name);
    QCoro::Task<> rename(DriveFile file, QString name);
    // Trashes one after another, stopping at the first failure, then lists.
    QCoro::Task<> trashFiles(QList<DriveFile> files);
    // Deletes one after another, stopping at the first failure, then lists; a toast tells the
    // count on success.
    QCoro::Task<> deleteDriveFilesPermanently(QList<DriveFile> files);
    // Opens the item's web page, but only an https page on Google's web domain or below it.
    void openInBrowser(const DriveFile &file);

    // --- Sharing ---

    // The sharing slice: the share sheet's item and collaborators.
    Sharing &sharing() const { return *m_sharing; }

    // --- Transfers (the engine lives in TransferQueue; these are the user's operations) ---

    TransferQueue &queue() const { return *m_queue; }
    // Running and waiting transfers: they forbid signing out and make quitting ask first.
    int pendingTransferCount() const;
    const QList<Transfer> &transfers() const;
    void pauseTransfer(const QUuid &id);
    // Resume and retry.
    void resumeTransfer(const QUuid &id);
    void resumeAllPaused();
    void cancelTransfer(const QUuid &id);
    void clearFinished();

    // Uploads: one waiting transfer per local item into cloudParent(); refused with a message when
    // the Drive pane shows no folder that takes uploads, and sends to sign-in when signed out.
    void enqueueUploads(QStringList paths);
    // The same into a given Drive folder, shown as cloudPath, without the pane's checks.
    void enqueueUploads(QStringList paths, QString parent, QString cloudPath);
    // Lets the user pick files to upload ("Tải lên…"), starting in the local pane's folder with
    // its selected files picked.
    QCoro::Task<> chooseUpload();
    // The same for one folder ("Tải thư mục lên…"): file pickers cannot take both at once.
    QCoro::Task<> chooseUploadFolder();
    // Whether a chooser may open: a Drive folder that takes uploads is shown (else the sign-in
    // screen opens when signed out).
    bool readyToChooseUploads();
    // The selected entries of the local pane that are folders, or that are files, in list order.
    QStringList selectedLocalEntries(bool folders) const;

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

    // The link sheet's state.
    const QString &linkToDownload() const { return m_linkToDownload; }
    void setLinkToDownload(QString link);
    const std::optional<QString> &customDownloadFolder() const { return m_customDownloadFolder; }
    void setCustomDownloadFolder(std::optional<QString> folder);
    bool showLinkDownload() const { return m_showLinkDownload; }
    void setShowLinkDownload(bool show);

    // --- Update checks ---

    // The update slice: the daily check and its notice.
    UpdateNotice &updates() const { return *m_updates; }

    // Settings keys.
    static const QString localFolderKey;
    static const QString sortLocalKey;
    static const QString sortCloudKey;
    static const QString autoResumeKey;

signals:
    void errorChanged();
    void toastMessageChanged();
    void showConnectionChanged();
    void showTransfersChanged();

    void localURLChanged();
    void localFilesChanged();
    void localSelectionChanged();
    void localSearchChanged();
    void localSortChanged();

    void connectedChanged();
    void configuredChanged();
    void managedGoogleChanged();
    void connectingChanged();
    void accountNameChanged();
    void accountEmailChanged();
    void quotaChanged();
    void connectionErrorChanged();
    void configurationNameChanged();

    void locationChanged();
    void crumbsChanged();
    void cloudFilesChanged();
    void cloudSelectionChanged();
    void cloudSearchChanged();
    void cloudSortChanged();
    void loadingChanged();
    void cloudLoadErrorChanged();

    // Any change of the queue; rows announce themselves through queue().
    void transfersChanged();
    void restoredPromptChanged();
    void autoResumeTransfersChanged();
    void linkToDownloadChanged();
    void customDownloadFolderChanged();
    void showLinkDownloadChanged();

private:
    // Stops work that belongs to the model when the model goes.
    struct Lifetime
    {
        std::stop_source source;
        ~Lifetime() { source.request_stop(); }
    };

    // Assigns and announces a change; nothing when the value is the same.
    template<typename T, typename Signal> void publish(T &member, T value, Signal changed)
    {
        if (member == value)
            return;
        member = std::move(value);
        emit(this->*changed)();
    }

    static QString disconnectedAccountName();
    static QString disconnectedAccountEmail();
    QCoro::Task<> runLogin(std::stop_token stop);
    // After the last run: both panes and the quota, once.
    QCoro::Task<> refreshAfterTransfers();
    void setConnected(bool connected);
    void resetAccount();
    void setLoading(bool loading);
    // Empties items and selection before a listing of another folder.
    void clearCloudItems();
    void startCloudListing();
    Desktop *m_desktop; // Not owned.
    bool m_initialized = false;

    std::optional<QString> m_error;
    std::optional<QString> m_toastMessage;
    bool m_showConnection = false;
    bool m_showTransfers = false;

    std::optional<QString> m_localURL;
    QList<LocalFile> m_localFiles;
    QSet<QString> m_localSelection;
    QString m_localSearch;
    SortOption m_localSort;
    std::optional<QDateTime> m_lastLocalRefresh; // missing: the distant past
    quint64 m_localListing = 0;                  // renewed by every navigateLocal
    // Listings get their own threads so that long scans elsewhere never delay them.
    QThreadPool m_localPool;

    GoogleAuth *m_auth; // a child
    std::unique_ptr<DriveClient> m_drive;
    bool m_connected = false;
    bool m_configured = false;
    bool m_managedGoogle = false;
    bool m_connecting = false;
    QString m_accountName;
    QString m_accountEmail;
    std::optional<DriveAccount::Quota> m_quota;
    std::optional<QString> m_connectionError;
    QString m_configurationName;
    bool m_resumeAfterLogin = false;
    std::optional<std::stop_source> m_loginTask; // the running sign-in

    DriveLocation m_location = DriveLocation::MyDrive;
    QList<Crumb> m_crumbs;
    QList<DriveFile> m_cloudFiles;
    QSet<QString> m_cloudSelection;
    QString m_cloudSearch;
    SortOption m_cloudSort;
    bool m_loading = false;
    std::optional<QString> m_cloudLoadError;
    QUuid m_listVersion = QUuid::createUuid();
    // Stops the listing in flight: a newer one or a sign-out replaces it, and a server that
    // pages forever must not keep every replaced listing growing to its ceiling.
    std::stop_source m_listingStop;
    std::optional<QDateTime> m_lastCloudRefresh; // missing: the distant past

    Sharing *m_sharing; // a child

    TransferQueue *m_queue; // a child
    std::optional<int> m_restoredPrompt;
    bool m_autoResumeTransfers = false;
    QString m_linkToDownload;
    std::optional<QString> m_customDownloadFolder;
    bool m_showLinkDownload = false;

    UpdateNotice *m_updates; // a child

    // Last member: stopped first when the model is destroyed.
    Lifetime m_lifetime;
};

} // namespace Tarnwick
