#include "panes/drivepane.h"
#include "browse/sharing.h"

#include "common/clearlayout.h"
#include "sheets/destructivealert.h"
#include "tables/drivefiletablemodel.h"
#include "panes/emptystateview.h"
#include "tables/filetablesetup.h"
#include "common/icons.h"
#include "tables/localfiledelegate.h"
#include "tables/localfileview.h"
#include "common/palette.h"
#include "panes/panehead.h"
#include "panes/searchfield.h"
#include "panes/sortmenubutton.h"

#include "async/async.h"
#include "browse/drivebrowser.h"
#include "browse/sharing.h"
#include "connection/driveconnection.h"
#include "desktop.h"
#include "records/displaytext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// Missing capabilities, or a missing flag, allow the action.
bool allowed(const DriveFile &file, std::optional<bool> DriveFile::Capabilities::*flag)
{
    return !file.capabilities || (*file.capabilities).*flag != false;
}

} // namespace

DrivePane::DrivePane(DriveBrowser *cloud, DriveConnection *connection, Sharing *sharing,
                     QWidget *parent, DriveThumbnailCache *thumbnails)
    : QFrame(parent)
    , m_cloud(cloud)
    , m_connection(connection)
    , m_sharing(sharing)
    , m_head(new PaneHead(u"externaldrive.badge.icloud"_s, u"Google Drive"_s, this))
    , m_refresh(new QToolButton(this))
    , m_progress(new QProgressBar(this))
    , m_back(new QToolButton(this))
    , m_crumbBar(new QWidget(this))
    , m_crumbLayout(new QHBoxLayout(m_crumbBar))
    , m_search(new SearchField(this))
    , m_sort(new SortMenuButton(this))
    , m_pages(new QStackedWidget(this))
    , m_notConnected(new EmptyStateView(this))
    , m_loadError(new EmptyStateView(this))
    , m_nothing(new EmptyStateView(this))
    , m_listPage(new QWidget(this))
    , m_rows(new DriveFileTableModel(thumbnails, this))
    , m_view(new LocalFileView(this))
    , m_delegate(new LocalFileDelegate(this))
    , m_count(new QLabel(this))
    , m_free(new QLabel(this))
    , m_rowsTimer(new QTimer(this))
{
    auto *layout = makePaneLayout(this);

    m_progress->setRange(0, 0);
    m_progress->setFixedSize(60, 6);
    m_progress->setTextVisible(false);
    m_head->controls()->addWidget(m_progress);
    m_refresh->setIcon(Icons::symbol(u"arrow.clockwise"_s));
    m_refresh->setToolTip(u"Làm mới Google Drive"_s);
    m_refresh->setCursor(Qt::PointingHandCursor);
    m_head->controls()->addWidget(m_refresh);
    layout->addWidget(m_head);

    auto *pathRow = new QHBoxLayout;
    pathRow->setSpacing(6);
    setUpBackButton(m_back);
    m_back->setToolTip(u"Quay lại thư mục trước"_s);
    pathRow->addWidget(m_back);
    m_crumbLayout->setContentsMargins(0, 0, 0, 0);
    m_crumbLayout->setSpacing(2);
    m_crumbBar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    pathRow->addWidget(m_crumbBar, 1);
    layout->addLayout(pathRow);

    layout->addLayout(makeSearchRow(m_search, m_sort));

    m_notConnected->setSymbol(u"cloud"_s);
    m_notConnected->setTitle(u"Kết nối không gian của anh"_s);
    m_notConnected->setText(
        u"Đăng nhập Google Drive để duyệt file\nvà tải lên chỉ bằng một lần kéo thả."_s);
    m_notConnected->setButtonText(u"Kết nối Google Drive"_s);
    m_notConnected->setCaption(u"Đăng nhập an toàn qua Google"_s);
    m_pages->addWidget(m_notConnected);

    m_loadError->setSymbol(u"wifi.exclamationmark"_s);
    m_loadError->setTitle(u"Chưa tải được thư mục"_s);
    m_loadError->setButtonText(u"Thử lại"_s);
    m_pages->addWidget(m_loadError);

    m_nothing->setButtonText({});
    m_pages->addWidget(m_nothing);

    m_view->setModel(m_rows);
    m_view->setItemDelegate(m_delegate);
    m_view->setToolTip(u"Kéo file từ máy vào đây để tải lên"_s);
    setUpFileTableHeader(m_view->horizontalHeader(), fontMetrics());
    fillListPage(m_listPage, m_view);
    m_pages->addWidget(m_listPage);
    layout->addWidget(m_pages, 1);
    layout->addLayout(makeFileTableFooter(m_count, m_free));

    setUpRowsTimer(m_rowsTimer);
    connect(m_rowsTimer, &QTimer::timeout, this, &DrivePane::refreshRows);

    chainTabOrder({m_refresh, m_back, m_search, m_sort, m_view, m_notConnected->button(),
                   m_loadError->button()});

    // Keys of the pane that has the focus.
    auto addShortcut = [this](const QKeySequence &keys, auto action) {
        auto *shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    addShortcut(QKeySequence(Qt::Key_F2), &DrivePane::renameSelection);
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Left)})
        addShortcut(keys, [this] {
            if (m_cloud && m_back->isEnabled())
                m_cloud->goBackCloud();
        });
    addShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), &DrivePane::goToParent);

    // Controls → slice.
    connect(m_notConnected, &EmptyStateView::buttonClicked, this, &DrivePane::connectRequested);
    connect(m_loadError, &EmptyStateView::buttonClicked, this, [this] {
        if (m_cloud)
            m_cloud->refreshCloud();
    });
    connect(m_refresh, &QToolButton::clicked, this, [this] {
        if (m_cloud)
            m_cloud->refreshCloudAndAccount();
    });
    connect(m_back, &QToolButton::clicked, this, [this] {
        if (m_cloud)
            m_cloud->goBackCloud();
    });
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_cloud)
            m_cloud->setCloudSearch(text);
    });
    connect(m_sort, &SortMenuButton::sortChosen, this, [this](const SortOption &option) {
        if (m_cloud)
            m_cloud->setCloudSort(option);
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &DrivePane::takeSelectionFromView);
    connect(m_view, &LocalFileView::deleteKeyPressed, this, &DrivePane::askToTrashSelection);
    connect(m_view, &LocalFileView::primaryActionRequested, this, &DrivePane::primaryAction);
    connect(m_view, &QWidget::customContextMenuRequested, this, &DrivePane::showContextMenu);
    connect(m_delegate, &LocalFileDelegate::openFolderRequested, this,
            [this](const QModelIndex &index) {
                if (m_cloud)
                    m_cloud->openCloud(m_rows->file(index.row()));
            });

    // Slice → controls.
    connect(cloud, &DriveBrowser::cloudFilesChanged, this, &DrivePane::scheduleRows);
    connect(cloud, &DriveBrowser::cloudSearchChanged, this, [this] {
        if (m_search->text() != m_cloud->cloudSearch())
            m_search->setText(m_cloud->cloudSearch());
        scheduleRows();
    });
    connect(cloud, &DriveBrowser::cloudSortChanged, this, [this] {
        m_sort->setSortOption(m_cloud->cloudSort());
        scheduleRows();
    });
    connect(cloud, &DriveBrowser::cloudSelectionChanged, this, [this] {
        if (!m_syncingSelection)
            applySelectionToView();
        updateFooter();
    });
    const auto updateLocation = [this] {
        updateHeader();
        updatePage();
    };
    for (auto changed : {&DriveBrowser::loadingChanged, &DriveBrowser::cloudLoadErrorChanged,
                         &DriveBrowser::locationChanged, &DriveBrowser::crumbsChanged})
        connect(cloud, changed, this, updateLocation);
    connect(connection, &DriveConnection::connectedChanged, this, updateLocation);
    connect(connection, &DriveConnection::quotaChanged, this, &DrivePane::updateFooter);

    m_sort->setSortOption(cloud->cloudSort());
    m_search->setText(cloud->cloudSearch());
    updateHeader();
    refreshRows();
}

DrivePane::~DrivePane()
{
    m_stop.request_stop();
}

void DrivePane::scheduleRows()
{
    // A listing changes items, selection and search in one turn: one pass for all of them.
    m_rowsTimer->start();
}

void DrivePane::refreshRows()
{
    if (!m_cloud)
        return;
    m_rowsTimer->stop();
    m_rows->setFiles(m_cloud->visibleCloud());
    applySelectionToView();
    updatePage();
    updateFooter();
}

void DrivePane::applySelectionToView()
{
    if (!m_cloud)
        return;
    m_syncingSelection = true;
    m_view->selectionModel()->select(m_rows->selectionOf(m_cloud->cloudSelection()),
                                     QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

void DrivePane::takeSelectionFromView()
{
    if (m_syncingSelection || !m_cloud)
        return;
    m_syncingSelection = true;
    m_cloud->setCloudSelection(m_rows->keysOf(m_view->selectionModel()->selectedRows()));
    m_syncingSelection = false;
}

void DrivePane::updateHeader()
{
    if (!m_cloud)
        return;
    const bool connected = signedIn();
    m_progress->setVisible(connected && m_cloud->loading());
    m_refresh->setEnabled(connected);
    m_back->setEnabled(connected && !m_cloud->crumbs().isEmpty());
    m_search->setEnabled(connected);
    m_sort->setEnabled(connected);
    updateBreadcrumbs();
}

void DrivePane::updateBreadcrumbs()
{
    clearLayout(m_crumbLayout);
    if (!m_cloud || !signedIn()) {
        m_crumbLayout->addStretch(1);
        return;
    }
    auto addButton = [this](const QString &text, const QIcon &icon, auto action) {
        auto *button = new QPushButton(icon, text, m_crumbBar);
        button->setProperty("flat", true);
        // Made anew on every move: in the Tab chain they would land after everything else.
        // Alt+Up and Backspace walk the path from the keyboard.
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, action);
        m_crumbLayout->addWidget(button);
    };
    const DriveLocation location = m_cloud->location();
    addButton(DriveLocations::rawValue(location),
              Icons::symbol(DriveLocations::symbolName(location), Palette::teal()), [this] {
                  if (m_cloud)
                      m_cloud->navigateToCloudRoot();
              });
    const QList<Crumb> &crumbs = m_cloud->crumbs();
    for (qsizetype i = 0; i < crumbs.size(); ++i) {
        auto *chevron = new QLabel(m_crumbBar);
        chevron->setPixmap(Icons::symbol(u"chevron.right"_s, Palette::muted()).pixmap(10, 10));
        m_crumbLayout->addWidget(chevron);
        addButton(DisplayText::shown(crumbs.at(i).name), QIcon(), [this, i] {
            if (m_cloud)
                m_cloud->navigateToCrumb(i);
        });
    }
    m_crumbLayout->addStretch(1);
}

bool DrivePane::signedIn() const
{
    return m_connection && m_connection->connected();
}

void DrivePane::updatePage()
{
    if (!m_cloud)
        return;
    if (!signedIn()) {
        m_pages->setCurrentWidget(m_notConnected);
        return;
    }
    if (m_cloud->cloudLoadError()) {
        m_loadError->setText(DisplayText::message(*m_cloud->cloudLoadError()));
        m_pages->setCurrentWidget(m_loadError);
        return;
    }
    if (m_rows->rowCount() == 0 && !m_cloud->loading()) {
        const bool canUpload = m_cloud->canUpload();
        m_nothing->setSymbol(canUpload ? u"arrow.up.doc"_s : u"folder"_s);
        m_nothing->setTitle({});
        m_nothing->setText(!m_cloud->cloudSearch().isEmpty() ? u"Không tìm thấy mục phù hợp"_s
                           : canUpload ? u"Thả file vào đây để tải lên"_s
                                       : u"Chưa có mục nào"_s);
        m_pages->setCurrentWidget(m_nothing);
        return;
    }
    m_pages->setCurrentWidget(m_listPage);
}

void DrivePane::updateFooter()
{
    if (!m_cloud)
        return;
    // Summing the selected bytes walks the listing: only with a selection.
    const qsizetype selected = m_cloud->cloudSelection().size();
    m_count->setText(fileCountText(m_rows->rowCount(), selected,
                                   selected > 0 ? m_cloud->cloudSelectedBytes() : 0));
    m_free->setText(freeSpaceText((m_connection ? m_connection->cloudFreeSpace() : std::nullopt)));
}

QList<DriveFile> DrivePane::listedSelection() const
{
    QList<DriveFile> files;
    if (!m_cloud || m_cloud->cloudSelection().isEmpty())
        return files;
    for (const DriveFile &file : m_cloud->cloudFiles()) {
        if (m_cloud->cloudSelection().contains(file.id))
            files.append(file);
    }
    return files;
}

bool DrivePane::canDownload() const
{
    if (!m_cloud || m_cloud->cloudSelection().size() != 1)
        return false;
    const QList<DriveFile> listed = listedSelection();
    return listed.size() == 1 && !listed.constFirst().isGoogleDocument() &&
           allowed(listed.constFirst(), &DriveFile::Capabilities::canDownload);
}

bool DrivePane::atSharedDrivesRoot() const
{
    return m_cloud && m_cloud->location() == DriveLocation::Team && m_cloud->crumbs().isEmpty();
}

void DrivePane::renameSelection()
{
    const QList<DriveFile> files = listedSelection();
    if (!m_cloud || files.size() != 1 || m_cloud->cloudSelection().size() != 1)
        return;
    const DriveFile &file = files.constFirst();
    // The same rule as the context menu's entry.
    if (allowed(file, &DriveFile::Capabilities::canEdit) && !atSharedDrivesRoot())
        emit renameRequested(file);
}

void DrivePane::goToParent()
{
    if (!m_cloud || !signedIn())
        return;
    const qsizetype depth = m_cloud->crumbs().size();
    if (depth >= 2)
        m_cloud->navigateToCrumb(depth - 2);
    else if (depth == 1)
        m_cloud->navigateToCloudRoot();
}

void DrivePane::primaryAction()
{
    const QList<DriveFile> files = listedSelection();
    if (m_cloud && !files.isEmpty())
        m_cloud->openCloud(files.constFirst());
}

void DrivePane::askToTrashSelection()
{
    const QList<DriveFile> files = listedSelection();
    if (!files.isEmpty())
        detach(confirmTrash(files), {});
}

QCoro::Task<> DrivePane::confirmTrash(QList<DriveFile> files)
{
    if (files.isEmpty() || !m_cloud)
        co_return;
    QPointer<DriveBrowser> cloud = m_cloud;
    auto asking = confirmDestructive(
        cloud->desktop(), u"Chuyển "_s + QString::number(files.size()) + u" mục vào thùng rác?"_s,
        u"Anh có thể khôi phục các mục này trong thùng rác Google Drive."_s,
        u"Chuyển vào thùng rác"_s);
    const bool confirmed = co_await asking;
    if (!cloud || !confirmed)
        co_return;
    auto trashing = cloud->trashFiles(std::move(files));
    co_await trashing;
}

QCoro::Task<> DrivePane::confirmPermanentDelete(QList<DriveFile> files)
{
    if (files.isEmpty() || !m_cloud)
        co_return;
    QPointer<DriveBrowser> cloud = m_cloud;
    auto asking = confirmDestructive(
        cloud->desktop(), u"Xoá vĩnh viễn "_s + QString::number(files.size()) + u" mục?"_s,
        u"Hành động này không thể hoàn tác. Các mục này sẽ bị xoá vĩnh viễn khỏi "
        u"Google Drive để giải phóng dung lượng."_s,
        u"Xoá vĩnh viễn"_s);
    const bool confirmed = co_await asking;
    if (!cloud || !confirmed)
        co_return;
    auto deleting = cloud->deleteDriveFilesPermanently(std::move(files));
    co_await deleting;
}

QMenu *DrivePane::createContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    if (!m_cloud)
        return menu;
    QPointer<DriveBrowser> cloud = m_cloud;
    QPointer<Sharing> sharing = m_sharing;
    const QList<DriveFile> listed = listedSelection();
    const bool teamRoot = atSharedDrivesRoot();

    if (m_cloud->cloudSelection().size() == 1 && listed.size() == 1) {
        const DriveFile file = listed.constFirst();
        menu->addAction(file.isFolder() ? u"Mở thư mục"_s : u"Mở trên Google Drive"_s, this,
                        [cloud, file] {
                            if (cloud)
                                cloud->openCloud(file);
                        });
        menu->addAction(Icons::symbol(u"person.crop.circle.badge.plus"_s),
                        // "&&": a single one would mark a shortcut letter and not be shown.
                        u"Chia sẻ && Phân quyền…"_s, this, [sharing, file] {
                            if (sharing)
                                sharing->openShare(file);
                        });
        menu->addAction(Icons::symbol(u"link.badge.plus"_s), u"Sao chép link chia sẻ"_s, this,
                        [sharing, file] {
                            if (sharing)
                                detach(sharing->copyShareLink(file), {});
                        });
        if (!file.isGoogleDocument()) {
            QAction *download =
                menu->addAction(file.isFolder() ? u"Tải thư mục về máy…"_s : u"Tải xuống…"_s, this,
                                [this, file] { emit downloadRequested(file); });
            download->setEnabled(allowed(file, &DriveFile::Capabilities::canDownload));
        }
        QAction *rename =
            menu->addAction(u"Đổi tên…"_s, this, [this, file] { emit renameRequested(file); });
        rename->setEnabled(allowed(file, &DriveFile::Capabilities::canEdit) && !teamRoot);
        // A name too long to show whole can still be had whole.
        if (file.name.size() > DisplayText::nameLimit)
            menu->addAction(u"Sao chép tên đầy đủ"_s, this, [cloud, name = file.name] {
                if (cloud)
                    cloud->desktop().copyText(name);
            });
    }

    menu->addSeparator();
    const bool any = !m_cloud->cloudSelection().isEmpty();
    const bool trashable = std::all_of(listed.begin(), listed.end(), [](const DriveFile &file) {
        return allowed(file, &DriveFile::Capabilities::canTrash);
    });
    QAction *trash = menu->addAction(u"Chuyển vào thùng rác"_s, this,
                                     [this, listed] { detach(confirmTrash(listed), {}); });
    trash->setEnabled(any && !teamRoot && trashable);
    QAction *erase = menu->addAction(
        Icons::symbol(u"trash.slash"_s, Palette::destructive()), u"Xoá vĩnh viễn…"_s, this,
        [this, listed] { detach(confirmPermanentDelete(listed), {}); });
    erase->setEnabled(any && !teamRoot);
    return menu;
}

void DrivePane::showContextMenu(const QPoint &position)
{
    QMenu *menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

} // namespace Tarnwick
