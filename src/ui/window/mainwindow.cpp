#include "window/mainwindow.h"
#include "browse/sharing.h"

#include "panes/drivepane.h"
#include "panes/emptystateview.h"
#include "panes/localpane.h"
#include "panes/panedroptarget.h"
#include "panes/searchfield.h"
#include "queue/queuetexts.h"
#include "queue/transferqueuemodel.h"
#include "queue/transferqueuepanel.h"
#include "sheets/connectionview.h"
#include "sheets/donation.h"
#include "sheets/namesheet.h"
#include "window/accountbutton.h"
#include "window/helppage.h"
#include "window/sidebar.h"
#include "window/sidebutton.h"
#include "window/toastview.h"
#include "window/toolbarrow.h"
#include "window/windowstatusbar.h"

#include "appmodel.h"
#include "browse/drivebrowser.h"
#include "browse/localbrowser.h"
#include "connection/driveconnection.h"
#include "async/async.h"
#include "desktop.h"
#include "records/byteformat.h"
#include "records/decimalinteger.h"
#include "records/dragpayload.h"
#include "transfer/transferqueue.h"
#include "transfers/transfers.h"
#include "updates/updatenotice.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QMimeData>
#include <QSettings>
#include <QSplitter>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <chrono>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace Tarnwick {

MainWindow::MainWindow(AppModel *model, QWidget *parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_sidebar(new Sidebar(this))
    , m_toolbar(new ToolbarRow(this))
    , m_local(new LocalPane(
          &model->local(), [cloud = &model->cloud()] { return cloud->canUpload(); }, this))
    , m_drive(new DrivePane(&model->cloud(), &model->connection(), &model->sharing(), this))
    , m_panes(new QSplitter(Qt::Horizontal, this))
    , m_queueArea(new QWidget(this))
    , m_status(new WindowStatusBar(this))
    , m_banner(new UpdateBanner(this))
{
    setWindowTitle(u"Tarnwick"_s);
    setMinimumSize(1080, 700);
    resize(1320, 840);

    auto *central = new QWidget(this);
    auto *row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_sidebar);
    auto *workspace = new QVBoxLayout;
    workspace->setContentsMargins(0, 0, 0, 0);
    workspace->setSpacing(0);
    workspace->addWidget(m_toolbar);
    // The panes share the width through a splitter, one widget, so the queue panel can go under
    // it; neither pane can be collapsed, and the user's division is kept between runs.
    m_panes->setObjectName(u"panes"_s);
    m_panes->setContentsMargins(16, 4, 16, 12);
    m_panes->setHandleWidth(12);
    m_panes->setChildrenCollapsible(false);
    m_panes->addWidget(m_local);
    m_panes->addWidget(m_drive);
    m_panes->setStretchFactor(0, 1);
    m_panes->setStretchFactor(1, 1);
    for (QWidget *pane : {static_cast<QWidget *>(m_local), static_cast<QWidget *>(m_drive)}) {
        pane->setMinimumWidth(paneMinimumWidth);
        // A pane's width comes from the splitter, never from the length of what it shows.
        pane->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    if (!m_panes->restoreState(QSettings().value(paneSplitterKey).toByteArray()))
        m_panes->setSizes({1, 1});
    connect(m_panes, &QSplitter::splitterMoved, this,
            [this] { QSettings().setValue(paneSplitterKey, m_panes->saveState()); });
    workspace->addWidget(m_panes, 1);
    // From the local pane's last control on to the Drive pane's first.
    setTabOrder(m_local->firstUseView()->button(), m_drive->refreshButton());
    // The queue panel sets its own height, which the user drags and the settings keep.
    m_queueArea->setObjectName(u"queueArea"_s);
    m_queueArea->setLayout(new QVBoxLayout);
    m_queueArea->layout()->setContentsMargins(16, 0, 16, 12);
    m_queuePanel = new TransferQueuePanel(&model->transfers(), m_queueArea);
    connect(m_queuePanel, &TransferQueuePanel::hideRequested, this, [this] {
        if (m_model)
            m_model->setShowTransfers(false);
    });
    m_queueArea->layout()->addWidget(m_queuePanel);
    workspace->addWidget(m_queueArea);
    workspace->addWidget(m_banner);
    workspace->addWidget(m_status);
    row->addLayout(workspace, 1);
    setCentralWidget(central);
    m_toast = new ToastView(central);

    buildMenus();

    connect(m_sidebar, &Sidebar::locationClicked, this, [this](int index) {
        if (!m_model)
            return;
        // Not connected: every area leads to the connection screen first.
        if (m_model->connection().connected())
            m_model->cloud().changeLocation(DriveLocations::all().at(index));
        else
            m_model->setShowConnection(true);
    });
    connect(m_sidebar, &Sidebar::queueClicked, this, [this] {
        if (m_model)
            m_model->setShowTransfers(!m_model->showTransfers());
    });
    setDonation(DonationDetails::configured());
    // The pane the user last worked in is the one Ctrl+F searches.
    m_focusWatch =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
            for (QWidget *pane : {static_cast<QWidget *>(m_local), static_cast<QWidget *>(m_drive)})
                if (now && pane->isAncestorOf(now))
                    m_activePane = pane;
        });
    connect(m_sidebar, &Sidebar::coffeeClicked, this, [this] {
        if (!m_donation)
            return;
        m_showCoffee = true;
        emit coffeeRequested();
        if (m_coffeeSheet)
            return;
        m_coffeeSheet = new CoffeeSheet(*m_donation, this);
        m_coffeeSheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_coffeeSheet, &CoffeeSheet::copied, this, [this](const QString &message) {
            if (m_model)
                m_model->setToastMessage(message);
        });
        connect(m_coffeeSheet, &QDialog::finished, this, [this] { m_showCoffee = false; });
        m_coffeeSheet->open();
    });
    connect(m_toolbar, &ToolbarRow::accountClicked, this, [this] {
        if (m_model)
            m_model->setShowConnection(true);
    });
    connect(m_drive, &DrivePane::connectRequested, this, [this] {
        if (m_model)
            m_model->setShowConnection(true);
    });
    connect(m_toolbar, &ToolbarRow::newFolderClicked, this,
            [this] { openNamePrompt(u"Tạo thư mục trên Drive"_s, {}, std::nullopt); });
    connect(m_drive, &DrivePane::renameRequested, this,
            [this](const DriveFile &file) { openNamePrompt(u"Đổi tên"_s, file.name, file); });
    connect(m_drive, &DrivePane::downloadRequested, this, [this](const DriveFile &file) {
        if (m_model)
            detach(m_model->transfers().downloadFile(file), {});
    });
    connect(m_local, &LocalPane::uploadRequested, this, [this](const QStringList &paths) {
        if (m_model)
            m_model->transfers().enqueueUploads(paths);
    });
    connect(m_toolbar, &ToolbarRow::uploadClicked, this, [this] {
        if (m_model)
            detach(m_model->transfers().chooseUpload(), {});
    });
    connect(m_toolbar, &ToolbarRow::uploadFolderClicked, this, [this] {
        if (m_model)
            detach(m_model->transfers().chooseUploadFolder(), {});
    });
    connect(m_toolbar, &ToolbarRow::downloadClicked, this, [this] {
        if (m_model)
            detach(m_model->transfers().downloadSelected(), {});
    });
    connect(m_toolbar, &ToolbarRow::linkDownloadClicked, this, [this] {
        if (!m_model)
            return;
        m_model->transfers().setLinkToDownload({});
        m_model->transfers().setCustomDownloadFolder(std::nullopt);
        m_model->transfers().setShowLinkDownload(true);
    });
    DriveConnection *connection = &model->connection();
    DriveBrowser *cloud = &model->cloud();
    Transfers *transfers = &model->transfers();
    connect(transfers, &Transfers::showLinkDownloadChanged, this, &MainWindow::updateLinkSheet);
    // The menu follows once per turn; the queue's changes come through the activity timer.
    const auto transferActionsChanged = [this] {
        if (m_transferActionsDue)
            return;
        m_transferActionsDue = true;
        QTimer::singleShot(0, this, [this] {
            m_transferActionsDue = false;
            updateTransferActions();
        });
    };
    connect(connection, &DriveConnection::connectedChanged, this, transferActionsChanged);
    for (auto changed : {&DriveBrowser::locationChanged, &DriveBrowser::crumbsChanged,
                         &DriveBrowser::cloudSelectionChanged, &DriveBrowser::cloudFilesChanged})
        connect(cloud, changed, this, transferActionsChanged);
    installDropTargets();
    connect(transfers, &Transfers::restoredPromptChanged, this, [this] {
        if (m_model && m_model->transfers().restoredPrompt() && !m_restoreShown)
            detach(showRestorePrompt(), {});
    });
    for (auto changed : {&DriveConnection::connectedChanged, &DriveConnection::accountNameChanged,
                         &DriveConnection::accountEmailChanged, &DriveConnection::quotaChanged})
        connect(connection, changed, this, &MainWindow::updateDriveChrome);
    for (auto changed : {&DriveBrowser::locationChanged, &DriveBrowser::crumbsChanged,
                         &DriveBrowser::cloudSelectionChanged, &DriveBrowser::cloudFilesChanged})
        connect(cloud, changed, this, &MainWindow::updateDriveChrome);
    connect(m_status, &WindowStatusBar::showQueueClicked, this, [this] {
        if (m_model)
            m_model->setShowTransfers(true);
    });

    connect(&model->updates(), &UpdateNotice::availableUpdateChanged, this,
            &MainWindow::updateBannerVisibility);
    connect(&model->updates(), &UpdateNotice::updateDismissedChanged, this,
            &MainWindow::updateBannerVisibility);
    connect(m_banner, &UpdateBanner::notesClicked, this, [this] { detach(showUpdateNotes(), {}); });
    connect(m_banner, &UpdateBanner::skipClicked, this, [this] {
        if (m_model)
            m_model->updates().skipUpdate();
    });
    connect(m_banner, &UpdateBanner::laterClicked, this, [this] {
        if (m_model)
            m_model->updates().setUpdateDismissed(true);
    });
    connect(m_banner, &UpdateBanner::downloadClicked, this, [this] {
        if (m_model)
            m_model->updates().openUpdateDownload();
    });
    connect(&model->sharing(), &Sharing::sharingFileChanged, this, &MainWindow::updateShareSheet);
    connect(model, &AppModel::showConnectionChanged, this, &MainWindow::updateConnectionScreen);
    connect(model, &AppModel::showTransfersChanged, this, &MainWindow::updateQueueVisibility);
    // Progress arrives hundreds of times a second: the status line and the menu follow at the
    // pace a person reads, not once per change.
    m_activityTimer.setSingleShot(true);
    m_activityTimer.setInterval(TransferQueueModel::rowIntervalMs);
    connect(&m_activityTimer, &QTimer::timeout, this, &MainWindow::updateActivity);
    m_limitTicker.setSingleShot(true);
    m_limitTicker.setInterval(500);
    connect(&m_limitTicker, &QTimer::timeout, this, &MainWindow::updateActivity);
    connect(&transfers->queue(), &TransferQueue::transfersChanged, &m_activityTimer, [this] {
        if (!m_activityTimer.isActive())
            m_activityTimer.start();
        // "Resume all" follows a pause at once; looking for one costs a pass over the states.
        const QList<Transfer> &all = m_model->transfers().list();
        const bool paused = std::any_of(all.cbegin(), all.cend(), [](const Transfer &t) {
            return t.state == TransferState::Paused;
        });
        if (m_resumeAction && m_resumeAction->isEnabled() != paused)
            m_resumeAction->setEnabled(paused);
    });
    connect(model, &AppModel::toastMessageChanged, this, &MainWindow::updateToast);
    connect(model, &AppModel::errorChanged, this, [this] {
        if (m_model && m_model->error() && !m_errorShown)
            detach(showErrors(), {});
    });

    updateQueueVisibility();
    updateActivity();
    updateDriveChrome();
    updateTransferActions();
    updateBannerVisibility();
    updateToast();
    if (model->error())
        detach(showErrors(), {});
}

MainWindow::~MainWindow()
{
    // QWidget's destructor moves the focus, and by then this is no longer a MainWindow.
    disconnect(m_focusWatch);
    m_stop.request_stop();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    updateQueueRoom();
}

void MainWindow::updateQueueRoom()
{
    constexpr int panesFloor = 260;
    const QWidget *central = centralWidget();
    if (!central)
        return;
    const int estimate = m_toolbar->sizeHint().height() + m_status->sizeHint().height()
                         + (m_banner->isVisible() ? m_banner->height() : 0)
                         + m_queueArea->layout()->contentsMargins().bottom() + panesFloor;
    // What the layout cannot give up besides the panel itself: a taller panel would push the
    // status bar and the panel's own last rows out of the window.
    const int queueShare = m_queueArea->isVisible() ? m_queuePanel->height() : 0;
    const int others = std::max(estimate, central->minimumSizeHint().height() - queueShare);
    m_queuePanel->setRoom(central->height() - others);
}

void MainWindow::buildMenus()
{
    // Letters for Alt, and F10 below, so every command is reachable without a mouse.
    QMenu *file = menuBar()->addMenu(u"&Tệp"_s);
    QAction *connectAction = file->addAction(u"Kết nối Google Drive…"_s, this, [this] {
        if (m_model)
            m_model->setShowConnection(true);
    });
    connectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    m_openFolder = file->addAction(u"Mở thư mục trên máy…"_s, this, [this] {
        if (m_model)
            m_model->local().chooseLocal();
    });
    m_openFolder->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    file->addSeparator();
    QAction *settings = file->addAction(u"Cấu hình Google Drive…"_s, this, [this] {
        if (m_model)
            m_model->setShowConnection(true);
    });
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    settings->setMenuRole(QAction::PreferencesRole);
    file->addSeparator();
    m_find = file->addAction(u"Tìm trong thư mục…"_s, this, &MainWindow::focusSearch);
    m_find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    file->addSeparator();
    m_quit = file->addAction(u"Thoát Tarnwick"_s, this, &QWidget::close);
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setMenuRole(QAction::QuitRole);

    QMenu *transfers = menuBar()->addMenu(u"Truyền &file"_s);
    // The Drive commands stay disabled until a Drive folder is open.
    m_linkAction = transfers->addAction(u"Tải từ liên kết Google Drive…"_s, this, [this] {
        if (!m_model)
            return;
        m_model->transfers().setLinkToDownload({});
        m_model->transfers().setCustomDownloadFolder(std::nullopt);
        m_model->transfers().setShowLinkDownload(true);
    });
    m_linkAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_uploadAction = transfers->addAction(u"Tải lên…"_s, this, [this] {
        if (m_model)
            detach(m_model->transfers().chooseUpload(), {});
    });
    m_uploadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    m_uploadFolderAction = transfers->addAction(u"Tải thư mục lên…"_s, this, [this] {
        if (m_model)
            detach(m_model->transfers().chooseUploadFolder(), {});
    });
    m_uploadFolderAction->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_U));
    m_downloadAction = transfers->addAction(u"Tải xuống…"_s, this, [this] {
        if (m_model)
            detach(m_model->transfers().downloadSelected(), {});
    });
    m_downloadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    m_resumeAction = transfers->addAction(u"Tiếp tục tất cả tác vụ đang dừng"_s, this, [this] {
        if (m_model)
            m_model->transfers().resumeAllPaused();
    });
    m_autoResumeAction = transfers->addAction(u"Tự tiếp tục phiên dở khi mở app"_s);
    m_autoResumeAction->setCheckable(true);
    m_autoResumeAction->setChecked(m_model && m_model->transfers().autoResumeTransfers());
    connect(m_autoResumeAction, &QAction::toggled, this, [this](bool on) {
        if (m_model)
            m_model->transfers().setAutoResumeTransfers(on);
    });
    if (m_model)
        connect(&m_model->transfers(), &Transfers::autoResumeTransfersChanged, this,
                [this] { m_autoResumeAction->setChecked(m_model->transfers().autoResumeTransfers()); });
    transfers->addSeparator();
    m_refresh = transfers->addAction(u"Làm mới"_s, this, [this] {
        if (!m_model)
            return;
        if (m_model->local().localURL())
            detach(m_model->local().navigateLocal(*m_model->local().localURL()), {});
        if (m_model->connection().connected())
            detach(m_model->cloud().refreshCloudAndAccount(), {});
    });
    m_refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));

    QMenu *help = menuBar()->addMenu(u"Trợ &giúp"_s);
    help->addAction(u"Hướng dẫn kết nối Google Drive"_s, this, &MainWindow::openHelp);

    auto *menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    connect(menuKey, &QAction::triggered, this, [this] {
        menuBar()->setFocus(Qt::ShortcutFocusReason);
        menuBar()->setActiveAction(menuBar()->actions().constFirst());
    });
    addAction(menuKey);
}

void MainWindow::updateTransferActions()
{
    if (!m_model || !m_linkAction)
        return;
    m_linkAction->setEnabled(m_model->connection().connected());
    m_uploadAction->setEnabled(m_model->cloud().canUpload());
    m_uploadFolderAction->setEnabled(m_model->cloud().canUpload());
    m_downloadAction->setEnabled(m_model->transfers().canDownloadSelection());
    m_resumeAction->setEnabled(!m_model->transfers().queue().pausedTransfers().isEmpty());
}

QCoro::Task<> MainWindow::showRestorePrompt()
{
    QPointer<MainWindow> self(this);
    m_restoreShown = true;
    const int count = *m_model->transfers().restoredPrompt();
    const qint64 left = m_model->transfers().restoredBytesLeft();
    Desktop::Alert alert;
    alert.title = u"Tiếp tục phiên làm việc trước?"_s;
    alert.message = u"Lần trước Tarnwick dừng khi còn "_s + QString::number(count) +
                    u" tác vụ chưa xong"_s +
                    (left >= 1 ? u" (còn khoảng "_s + formatByteCount(left) + u')' : QString()) +
                    u". Phần đã truyền vẫn được giữ, tiếp tục sẽ chạy từ chỗ đã dừng. Có thể "
                    u"bật tự tiếp tục trong menu Truyền file."_s;
    alert.buttons = {{u"Tiếp tục"_s, Desktop::AlertButton::Role::Normal},
                     {u"Luôn tự tiếp tục"_s, Desktop::AlertButton::Role::Normal},
                     {u"Để sau"_s, Desktop::AlertButton::Role::Cancel},
                     {u"Bỏ các tác vụ này"_s, Desktop::AlertButton::Role::Destructive}};
    auto asking = m_model->desktop().ask(alert);
    const int answer = co_await asking;
    if (!self || !m_model)
        co_return;
    m_restoreShown = false;
    switch (answer) {
    case 0:
        m_model->transfers().resumeRestored();
        break;
    case 1:
        m_model->transfers().setAutoResumeTransfers(true);
        m_model->transfers().resumeRestored();
        break;
    case 3:
        m_model->transfers().discardRestored();
        break;
    default:
        m_model->transfers().postponeRestored();
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_quitConfirmed || !m_model || m_model->transfers().pendingTransferCount() <= 0) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (!m_quitAsked)
        detach(confirmQuit(), {});
}

QCoro::Task<> MainWindow::confirmQuit()
{
    QPointer<MainWindow> self(this);
    m_quitAsked = true;
    Desktop::Alert alert;
    alert.title = u"Tarnwick đang truyền file"_s;
    alert.message = u"Thoát sẽ tạm dừng các tác vụ đang chạy. Phần đã truyền được giữ lại, lần mở "
                    u"sau Tarnwick sẽ hỏi anh có muốn tiếp tục không."_s;
    alert.buttons = {{u"Tiếp tục làm việc"_s, Desktop::AlertButton::Role::Default},
                     {u"Dừng và thoát"_s, Desktop::AlertButton::Role::Destructive}};
    auto asking = m_model->desktop().ask(alert);
    const int answer = co_await asking;
    if (!self)
        co_return;
    m_quitAsked = false;
    if (answer == 1) {
        m_quitConfirmed = true;
        // Not from inside the close event that may have asked: Qt ignores a nested close.
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void MainWindow::updateLinkSheet()
{
    if (!m_model)
        return;
    if (m_model->transfers().showLinkDownload() && !m_linkSheet) {
        const std::optional<QString> folder =
            m_model->transfers().customDownloadFolder() ? m_model->transfers().customDownloadFolder() : m_model->local().localURL();
        m_linkSheet = new LinkDownloadSheet(&m_model->transfers(), m_model->transfers().linkToDownload(),
                                            folder, this);
        m_linkSheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_linkSheet, &LinkDownloadSheet::downloadRequested, this,
                [this](const QString &id, const QString &folder) {
                    if (m_model)
                        detach(m_model->transfers().downloadFromDriveID(id, folder), {});
                });
        connect(m_linkSheet, &QDialog::finished, this, [this] {
            if (m_model)
                m_model->transfers().setShowLinkDownload(false);
        });
        m_linkSheet->open();
    } else if (!m_model->transfers().showLinkDownload() && m_linkSheet) {
        m_linkSheet->close();
    }
}

void MainWindow::installDropTargets()
{
    // Local files onto the Drive pane upload; refused while the pane shows no folder that takes
    // uploads.
    new PaneDropTarget(
        m_drive, u"Kéo file từ máy vào đây để tải lên"_s,
        [this](const QMimeData &data) {
            if (!m_model || !m_model->cloud().canUpload() || !data.hasUrls())
                return false;
            for (const QUrl &url : data.urls()) {
                if (url.isLocalFile())
                    return true;
            }
            return false;
        },
        [this](const QMimeData &data) {
            if (!m_model)
                return;
            QStringList paths;
            for (const QUrl &url : data.urls()) {
                if (url.isLocalFile())
                    paths.append(url.toLocalFile());
            }
            // Dragging one of several selected entries takes the whole selection.
            const QSet<QString> &selection = m_model->local().localSelection();
            if (paths.size() == 1 && selection.contains(paths.first()) && selection.size() >= 2) {
                paths.clear();
                for (const LocalFile &file : m_model->local().localFiles()) {
                    if (selection.contains(file.url))
                        paths.append(file.url);
                }
            }
            m_model->transfers().enqueueUploads(paths);
        });
    // Drive rows and Drive links onto the local pane download; the pane's own files do not land.
    new PaneDropTarget(
        m_local, u"Thả file từ Drive hoặc link Google Drive vào đây để tải về máy"_s,
        [this](const QMimeData &data) {
            if (!m_model)
                return false;
            if (!DragPayload::driveFiles(data).isEmpty())
                return true;
            if (data.hasUrls()) {
                for (const QUrl &url : data.urls()) {
                    if (!url.isLocalFile())
                        return true;
                }
                return false;
            }
            return data.hasText();
        },
        [this](const QMimeData &data) {
            if (m_model)
                detach(m_model->transfers().acceptDropItems(DragPayload::downloadDropItems(data)), {});
        });
}

void MainWindow::focusSearch()
{
    SearchField *search = activePane() == m_drive ? m_drive->searchField() : m_local->searchField();
    search->setFocus(Qt::ShortcutFocusReason);
    search->selectAll();
}

QWidget *MainWindow::activePane() const
{
    if (m_activePane)
        return m_activePane;
    return m_local;
}

void MainWindow::setDonation(std::optional<DonationDetails> details)
{
    m_donation = std::move(details);
    m_sidebar->coffeeButton()->setVisible(m_donation.has_value());
}

void MainWindow::openHelp()
{
    if (m_model)
        HelpPage::open(m_model->desktop());
}

void MainWindow::updateConnectionScreen()
{
    if (!m_model)
        return;
    if (m_model->showConnection() && !m_connection) {
        m_connection = new ConnectionView(&m_model->connection(), this);
        m_connection->setAttribute(Qt::WA_DeleteOnClose);
        m_connection->setNote(m_connectionNote);
        connect(m_connection, &QDialog::finished, this, [this] {
            if (m_model)
                m_model->setShowConnection(false);
        });
        m_connection->open();
    } else if (!m_model->showConnection() && m_connection) {
        m_connection->close();
    }
}

void MainWindow::setConnectionNote(const QString &note)
{
    m_connectionNote = note;
    if (m_connection)
        m_connection->setNote(note);
}

bool MainWindow::canDownload() const
{
    return m_drive->canDownload();
}

void MainWindow::updateDriveChrome()
{
    if (!m_model)
        return;
    const bool connected = m_model->connection().connected();
    const QList<DriveLocation> areas = DriveLocations::all();
    m_sidebar->setActiveLocation(
        connected ? std::optional<int>(int(areas.indexOf(m_model->cloud().location()))) : std::nullopt);
    m_toolbar->accountButton()->setAccount(connected, m_model->connection().accountEmail(),
                                           m_model->connection().accountName());
    m_toolbar->setEnabling(connected, m_model->cloud().canUpload(), canDownload());

    QString quota;
    if (const auto &q = m_model->connection().quota(); q && q->usage) {
        if (const auto usage = parseDecimalInt64(*q->usage)) {
            const auto limit = q->limit ? parseDecimalInt64(*q->limit) : std::nullopt;
            quota = u"Drive: "_s + formatByteCount(*usage) +
                    (limit ? u" / "_s + formatByteCount(*limit) : u" đã dùng"_s);
        }
    }
    m_status->setQuotaText(quota);
}

void MainWindow::openNamePrompt(const QString &title, const QString &initial,
                                const std::optional<DriveFile> &file)
{
    if (!m_model)
        return;
    if (m_nameSheet)
        m_nameSheet->close();
    m_nameSheet = new NameSheet(title, initial, this);
    m_nameSheet->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_nameSheet, &NameSheet::nameChosen, this, [this, file](const QString &name) {
        if (!m_model)
            return;
        if (file)
            detach(m_model->cloud().rename(*file, name), {});
        else
            detach(m_model->cloud().createFolder(name), {});
    });
    m_nameSheet->open();
}

void MainWindow::updateShareSheet()
{
    if (!m_model)
        return;
    const std::optional<DriveFile> &file = m_model->sharing().sharingFile();
    if (m_shareSheet && (!file || m_shareSheet->property("fileId").toString() != file->id)) {
        // Closing first: a sheet of another item never shows this item's answers.
        ShareSheet *old = m_shareSheet;
        m_shareSheet = nullptr;
        old->close();
    }
    if (!file || m_shareSheet)
        return;
    m_shareSheet = new ShareSheet(&m_model->sharing(), *file, this);
    m_shareSheet->setProperty("fileId", file->id);
    m_shareSheet->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<ShareSheet> sheet = m_shareSheet;
    connect(m_shareSheet, &QDialog::finished, this, [this, sheet] {
        if (m_model && sheet == m_shareSheet)
            m_model->sharing().closeShare();
    });
    m_shareSheet->open();
}

void MainWindow::updateBannerVisibility()
{
    // The notice waits while transfers run or wait.
    const bool shown = m_model && m_model->updates().availableUpdate() &&
                       !m_model->updates().updateDismissed() &&
                       QueueTexts::activity(m_model->transfers().list()).pending == 0;
    if (shown)
        m_banner->setUpdate(m_model->updates().availableUpdate()->version,
                            m_model->updates().availableUpdate()->notes);
    m_banner->setVisible(shown);
}

QCoro::Task<> MainWindow::showUpdateNotes()
{
    if (!m_model || !m_model->updates().availableUpdate())
        co_return;
    QPointer<AppModel> model = m_model;
    const AvailableUpdate update = *m_model->updates().availableUpdate();
    Desktop::Alert alert;
    alert.title = u"Tarnwick "_s + update.version + u" có gì mới"_s;
    alert.message = update.notes;
    alert.buttons = {{u"Tải về"_s, Desktop::AlertButton::Role::Default},
                     {u"Để sau"_s, Desktop::AlertButton::Role::Cancel}};
    auto asking = model->desktop().ask(std::move(alert));
    const int chosen = co_await asking;
    if (model && chosen == 0)
        model->updates().openUpdateDownload();
}

void MainWindow::updateQueueVisibility()
{
    const bool shown = m_model && m_model->showTransfers();
    m_queueArea->setVisible(shown);
    m_sidebar->setQueueActive(shown);
    m_status->setQueueButtonVisible(!shown);
}

void MainWindow::updateActivity()
{
    if (!m_model)
        return;
    const QueueTexts::Activity now = QueueTexts::activity(m_model->transfers().list());
    m_status->setActive(now.active);
    m_status->setText(now.text, now.color);
    m_sidebar->setQueueBadge(now.pending);
    if (now.limitedUntil.isValid() && !m_limitTicker.isActive())
        m_limitTicker.start();
    if (m_model->updates().availableUpdate() && now.active != m_banner->isHidden())
        updateBannerVisibility();
}

void MainWindow::updateToast()
{
    if (!m_model || !m_model->toastMessage()) {
        m_toast->dismiss();
        return;
    }
    m_toast->showMessage(*m_model->toastMessage());
    detach(dismissToastLater(++m_toastShown), {});
}

QCoro::Task<> MainWindow::dismissToastLater(quint64 shown)
{
    QPointer<MainWindow> self(this);
    auto waiting = sleepFor(2500ms, m_stop.get_token());
    co_await waiting;
    // A later toast runs its own timer.
    if (!self || shown != m_toastShown || !m_model)
        co_return;
    m_model->setToastMessage(std::nullopt);
}

QCoro::Task<> MainWindow::showErrors()
{
    QPointer<MainWindow> self(this);
    m_errorShown = true;
    while (self && m_model && m_model->error()) {
        const QString text = *m_model->error();
        Desktop::Alert alert;
        alert.title = u"Tarnwick"_s;
        alert.message = text;
        alert.buttons = {{u"Đã hiểu"_s, Desktop::AlertButton::Role::Default}};
        auto asking = m_model->desktop().ask(std::move(alert));
        co_await asking;
        if (!self || !m_model)
            co_return;
        // A newer error that arrived while this one was shown gets its own alert.
        if (m_model->error() == text)
            m_model->setError(std::nullopt);
    }
    if (self)
        m_errorShown = false;
}

} // namespace Tarnwick
