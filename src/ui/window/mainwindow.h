#pragma once

#include <QCoroTask>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include "sheets/coffeesheet.h"
#include "sheets/connectionview.h"
#include "sheets/linkdownloadsheet.h"
#include "sheets/namesheet.h"
#include "sheets/sharesheet.h"
#include "window/updatebanner.h"

#include <optional>

#include <stop_token>

class QAction;
class QFrame;
class QSplitter;

namespace Tarnwick {

class AppModel;
class DrivePane;
struct DriveFile;
class LocalPane;
class Sidebar;
class ToastView;
class ToolbarRow;
class TransferQueuePanel;
class WindowStatusBar;

// The single main window: the sidebar, and a workspace of the toolbar row, the local and Drive
// panes side by side, the queue panel when shown and the status bar. Each pane and sheet gets the
// slice of the model it shows; the window renders what the panes do not (menus, toolbar, alerts)
// and turns those actions into calls on the slices. It owns only presentation state (open
// confirmations, the toast's timer, the donation sheet flag).
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    explicit MainWindow(AppModel *model, QWidget *parent = nullptr);

    // Settings key of the division between the panes.
    static constexpr auto paneSplitterKey = "paneSplitter";
    static constexpr int paneMinimumWidth = 340;
    ~MainWindow() override;

    Sidebar *sidebar() const { return m_sidebar; }
    ToolbarRow *toolbarRow() const { return m_toolbar; }
    LocalPane *localPane() const { return m_local; }
    DrivePane *drivePane() const { return m_drive; }
    // The local and Drive panes side by side: one widget for the whole panes area.
    QSplitter *paneSplitter() const { return m_panes; }
    WindowStatusBar *windowStatusBar() const { return m_status; }
    UpdateBanner *updateBanner() const { return m_banner; }
    ToastView *toast() const { return m_toast; }
    QWidget *queueArea() const { return m_queueArea; }
    TransferQueuePanel *queuePanel() const { return m_queuePanel; }
    bool showCoffee() const { return m_showCoffee; }
    // Where a donation goes; without one the sidebar offers none. The build's configuration at
    // first.
    void setDonation(std::optional<DonationDetails> details);
    const std::optional<DonationDetails> &donation() const { return m_donation; }
    // The open name sheet, if any.
    NameSheet *nameSheet() const { return m_nameSheet; }
    // The open donation sheet, if any.
    CoffeeSheet *coffeeSheet() const { return m_coffeeSheet; }
    // The open connection screen, if any.
    ConnectionView *connectionView() const { return m_connection; }
    // The open share sheet, if any.
    ShareSheet *shareSheet() const { return m_shareSheet; }
    // Opens the name sheet: a rename of file when present, else a new folder.
    void openNamePrompt(const QString &title, const QString &initial,
                        const std::optional<DriveFile> &file);
    // A note the connection screen shows now and whenever it opens again.
    void setConnectionNote(const QString &note);
    // The toolbar's "Tải xuống" condition: one downloadable Drive item is selected.
    bool canDownload() const;

    // Menu commands, for the shell and tests.
    QAction *refreshAction() const { return m_refresh; }
    QAction *openFolderAction() const { return m_openFolder; }
    QAction *linkDownloadAction() const { return m_linkAction; }
    QAction *uploadAction() const { return m_uploadAction; }
    QAction *uploadFolderAction() const { return m_uploadFolderAction; }
    QAction *downloadAction() const { return m_downloadAction; }
    QAction *resumeAllAction() const { return m_resumeAction; }
    QAction *autoResumeAction() const { return m_autoResumeAction; }
    LinkDownloadSheet *linkDownloadSheet() const { return m_linkSheet; }
    QAction *findAction() const { return m_find; }
    QAction *quitAction() const { return m_quit; }
    // The pane the user last worked in (the local one at first).
    QWidget *activePane() const;
    // Puts the focus in the active pane's search field.
    void focusSearch();

signals:
    // The donation sheet should open.
    void coffeeRequested();

protected:
    // Quitting while transfers run or wait asks first.
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildMenus();
    // The queue panel may grow while the panes keep a usable height.
    void updateQueueRoom();
    void updateConnectionScreen();
    void updateDriveChrome();
    void updateShareSheet();
    void updateBannerVisibility();
    QCoro::Task<> showUpdateNotes();
    void updateQueueVisibility();
    // The status line and the sidebar badge from the transfers.
    void updateActivity();
    void updateToast();
    QCoro::Task<> dismissToastLater(quint64 shown);
    QCoro::Task<> showErrors();
    void openHelp();
    void updateTransferActions();
    QCoro::Task<> showRestorePrompt();
    QCoro::Task<> confirmQuit();
    void updateLinkSheet();
    void installDropTargets();

    QPointer<AppModel> m_model;
    Sidebar *m_sidebar;
    ToolbarRow *m_toolbar;
    LocalPane *m_local;
    DrivePane *m_drive;
    QSplitter *m_panes;
    QWidget *m_queueArea;
    TransferQueuePanel *m_queuePanel = nullptr;
    QTimer m_activityTimer;
    // Counts down a wait for Google's limits in the status line.
    QTimer m_limitTicker;
    WindowStatusBar *m_status;
    UpdateBanner *m_banner;
    ToastView *m_toast;
    QPointer<ConnectionView> m_connection;
    QString m_connectionNote;
    QPointer<NameSheet> m_nameSheet;
    QPointer<CoffeeSheet> m_coffeeSheet;
    QPointer<ShareSheet> m_shareSheet;
    QAction *m_refresh = nullptr;
    QAction *m_openFolder = nullptr;
    QAction *m_linkAction = nullptr;
    QAction *m_uploadAction = nullptr;
    QAction *m_uploadFolderAction = nullptr;
    QAction *m_downloadAction = nullptr;
    QAction *m_resumeAction = nullptr;
    QAction *m_autoResumeAction = nullptr;
    bool m_restoreShown = false;
    bool m_transferActionsDue = false;
    bool m_quitAsked = false;
    bool m_quitConfirmed = false;
    QPointer<LinkDownloadSheet> m_linkSheet;
    QAction *m_find = nullptr;
    QAction *m_quit = nullptr;
    QPointer<QWidget> m_activePane;
    QMetaObject::Connection m_focusWatch;

    std::optional<DonationDetails> m_donation;
    bool m_showCoffee = false;
    bool m_errorShown = false;
    quint64 m_toastShown = 0;
    std::stop_source m_stop;
};

} // namespace Tarnwick
