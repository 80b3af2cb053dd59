#include "panes/localpane.h"

#include "sheets/destructivealert.h"
#include "panes/emptystateview.h"
#include "tables/filetablesetup.h"
#include "common/icons.h"
#include "tables/localfiledelegate.h"
#include "tables/localfiletablemodel.h"
#include "tables/localfileview.h"
#include "common/palette.h"
#include "panes/panehead.h"
#include "panes/searchfield.h"
#include "panes/sortmenubutton.h"

#include "async/async.h"
#include "records/diskspaceutilities.h"
#include "browse/localbrowser.h"
#include "desktop.h"
#include "futureresult.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace Tarnwick {

LocalPane::LocalPane(LocalBrowser *local, std::function<bool()> canUpload, QWidget *parent)
    : QFrame(parent)
    , m_local(local)
    , m_canUpload(std::move(canUpload))
    , m_rows(new LocalFileTableModel(this))
    , m_view(new LocalFileView(this))
    , m_delegate(new LocalFileDelegate(this))
    , m_search(new SearchField(this))
    , m_sort(new SortMenuButton(this))
    , m_up(new QToolButton(this))
    , m_path(new QPushButton(this))
    , m_change(new QPushButton(this))
    , m_body(new QStackedWidget(this))
    , m_firstUse(new EmptyStateView(this))
    , m_listPage(new QWidget(this))
    , m_count(new QLabel(this))
    , m_free(new QLabel(this))
    , m_rowsTimer(new QTimer(this))
{
    auto *layout = makePaneLayout(this);

    auto *head = new PaneHead(u"laptopcomputer"_s, u"Máy của anh"_s, this);
    m_change->setIcon(Icons::symbol(u"folder.badge.gearshape"_s));
    m_change->setText(u"Đổi thư mục"_s);
    m_change->setToolTip(u"Chọn thư mục khác trên máy"_s);
    m_change->setCursor(Qt::PointingHandCursor);
    head->controls()->addWidget(m_change);
    layout->addWidget(head);

    auto *pathRow = new QHBoxLayout;
    pathRow->setSpacing(6);
    setUpBackButton(m_up);
    pathRow->addWidget(m_up);
    m_path->setIcon(Icons::symbol(u"folder"_s, Palette::teal()));
    m_path->setToolTip(u"Nhấp để đổi thư mục làm việc trên máy"_s);
    m_path->setProperty("flat", true);
    m_path->setStyleSheet(u"text-align: left;"_s);
    m_path->setCursor(Qt::PointingHandCursor);
    m_path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    pathRow->addWidget(m_path, 1);
    layout->addLayout(pathRow);

    layout->addLayout(makeSearchRow(m_search, m_sort));

    m_firstUse->setSymbol(u"folder.badge.plus"_s);
    m_firstUse->setTitle(u"Bắt đầu từ máy tính"_s);
    m_firstUse->setText(u"Chọn thư mục ảnh, tài liệu hoặc\nbất cứ nơi nào anh muốn làm việc."_s);
    m_firstUse->setButtonText(u"Chọn thư mục…"_s);
    m_body->addWidget(m_firstUse);

    m_view->setModel(m_rows);
    m_view->setItemDelegate(m_delegate);
    m_view->setPlaceholderText(u"Không có mục nào"_s);
    setUpFileTableHeader(m_view->horizontalHeader(), fontMetrics());
    fillListPage(m_listPage, m_view);
    m_body->addWidget(m_listPage);
    layout->addWidget(m_body, 1);
    layout->addLayout(makeFileTableFooter(m_count, m_free));

    setUpRowsTimer(m_rowsTimer);
    connect(m_rowsTimer, &QTimer::timeout, this, [this] { refreshRows(); });

    chainTabOrder({m_change, m_up, m_path, m_search, m_sort, m_view, m_firstUse->button()});

    // Keys of the pane that has the focus: back and up both lead to the parent folder (a local
    // folder has no history of its own).
    for (const QKeySequence &keys :
         {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Left),
          QKeySequence(Qt::ALT | Qt::Key_Up)}) {
        auto *shortcut = new QShortcut(keys, this, this, &LocalPane::goUp);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
    }

    // Controls → slice.
    connect(m_up, &QToolButton::clicked, this, &LocalPane::goUp);
    for (QPushButton *choose : {m_path, m_change, m_firstUse->button()})
        connect(choose, &QPushButton::clicked, this, [this] {
            if (m_local)
                m_local->chooseLocal();
        });
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (m_local)
            m_local->setLocalSearch(text);
    });
    connect(m_sort, &SortMenuButton::sortChosen, this, [this](const SortOption &option) {
        if (m_local)
            m_local->setLocalSort(option);
    });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LocalPane::takeSelectionFromView);
    connect(m_view, &LocalFileView::previewKeyPressed, this, &LocalPane::previewSelection);
    connect(m_view, &LocalFileView::deleteKeyPressed, this, &LocalPane::askToTrashSelection);
    connect(m_view, &LocalFileView::primaryActionRequested, this, &LocalPane::primaryAction);
    connect(m_view, &QWidget::customContextMenuRequested, this, &LocalPane::showContextMenu);
    connect(m_delegate, &LocalFileDelegate::openFolderRequested, this,
            [this](const QModelIndex &index) {
                if (m_local)
                    m_local->navigateLocal(index.data(LocalFileTableModel::PathRole).toString());
            });

    // Slice → controls.
    connect(local, &LocalBrowser::localFilesChanged, this, [this] {
        scheduleRows();
        refreshFreeSpace();
    });
    connect(local, &LocalBrowser::localSearchChanged, this, [this] {
        if (m_search->text() != m_local->localSearch())
            m_search->setText(m_local->localSearch());
        scheduleRows();
    });
    connect(local, &LocalBrowser::localSortChanged, this, [this] {
        m_sort->setSortOption(m_local->localSort());
        scheduleRows();
    });
    connect(local, &LocalBrowser::localSelectionChanged, this, [this] {
        if (!m_syncingSelection)
            applySelectionToView();
        updateFooter();
    });
    connect(local, &LocalBrowser::localURLChanged, this, &LocalPane::updateFolder);

    m_sort->setSortOption(local->localSort());
    m_search->setText(local->localSearch());
    updateFolder();
    scheduleRows();
    refreshFreeSpace();
}

LocalPane::~LocalPane()
{
    m_stop.request_stop();
}

bool LocalPane::rowsCurrent() const
{
    return !m_rowsTimer->isActive() && m_rowsShown == m_rowsPass;
}

void LocalPane::scheduleRows()
{
    // Several changes in one turn (a listing changes entries, selection and search) cost one
    // pass; the pass number also tells a running pass that it is out of date.
    ++m_rowsPass;
    m_rowsTimer->start();
}

QCoro::Task<> LocalPane::refreshRows()
{
    if (!m_local)
        co_return;
    const quint64 pass = m_rowsPass;
    QPointer<LocalPane> self(this);
    auto computing =
        resultLater(QtConcurrent::run(&LocalBrowser::filterAndSortLocal, m_local->localFiles(),
                                      m_local->localSearch(), m_local->localSort()));
    QList<LocalFile> rows = co_await computing;
    if (!self || !m_local || pass != m_rowsPass)
        co_return;
    m_rows->setFiles(std::move(rows));
    m_rowsShown = pass;
    applySelectionToView();
    updatePlaceholder();
    updateFooter();
}

QCoro::Task<> LocalPane::refreshFreeSpace()
{
    if (!m_local)
        co_return;
    const quint64 pass = ++m_freePass;
    QPointer<LocalPane> self(this);
    auto measuring =
        resultLater(QtConcurrent::run(&DiskSpaceUtilities::localFreeSpace, m_local->localURL()));
    const std::optional<qint64> free = co_await measuring;
    if (!self || pass != m_freePass)
        co_return;
    m_free->setText(freeSpaceText(free));
}

void LocalPane::applySelectionToView()
{
    if (!m_local)
        return;
    m_syncingSelection = true;
    m_view->selectionModel()->select(m_rows->selectionOf(m_local->localSelection()),
                                     QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

void LocalPane::takeSelectionFromView()
{
    if (m_syncingSelection || !m_local)
        return;
    m_syncingSelection = true;
    m_local->setLocalSelection(m_rows->keysOf(m_view->selectionModel()->selectedRows()));
    m_syncingSelection = false;
}

void LocalPane::updateFolder()
{
    if (!m_local)
        return;
    const std::optional<QString> &folder = m_local->localURL();
    m_up->setEnabled(folder && *folder != u"/");
    m_body->setCurrentWidget(folder ? m_listPage : static_cast<QWidget *>(m_firstUse));
    updatePathText();
    updatePlaceholder();
}

void LocalPane::updatePathText()
{
    if (!m_local)
        return;
    const std::optional<QString> &folder = m_local->localURL();
    const QString text = folder ? *folder : u"Chọn một thư mục…"_s;
    const int room = m_path->width() - m_path->iconSize().width() - 36;
    m_path->setText(m_path->fontMetrics().elidedText(text, Qt::ElideMiddle, qMax(room, 80)));
}

void LocalPane::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    updatePathText();
}

void LocalPane::updatePlaceholder()
{
    m_view->setPlaceholderVisible(m_local && m_local->localURL() && rowsCurrent() &&
                                  m_rows->rowCount() == 0);
}

void LocalPane::updateFooter()
{
    if (!m_local)
        return;
    m_count->setText(fileCountText(m_rows->rowCount(), m_local->localSelection().size(),
                                   m_local->localSelectedBytes()));
}

QList<LocalFile> LocalPane::listedSelection() const
{
    QList<LocalFile> files;
    if (!m_local || m_local->localSelection().isEmpty())
        return files;
    for (const LocalFile &file : m_local->localFiles()) {
        if (m_local->localSelection().contains(file.url))
            files.append(file);
    }
    return files;
}

void LocalPane::goUp()
{
    if (!m_local || !m_local->localURL() || *m_local->localURL() == u"/")
        return;
    m_local->navigateLocal(QFileInfo(*m_local->localURL()).absolutePath());
}

void LocalPane::previewSelection()
{
    const QList<LocalFile> files = listedSelection();
    if (m_local && !files.isEmpty())
        m_local->desktop().preview(files.constFirst().url);
}

void LocalPane::primaryAction()
{
    const QList<LocalFile> files = listedSelection();
    if (!m_local || files.isEmpty())
        return;
    const LocalFile &first = files.constFirst();
    if (first.isFolder)
        m_local->navigateLocal(first.url);
    else
        m_local->desktop().preview(first.url);
}

void LocalPane::askToTrashSelection()
{
    if (!m_local || m_local->localSelection().isEmpty())
        return;
    detach(confirmTrash(listedSelection()), {});
}

QCoro::Task<> LocalPane::confirmTrash(QList<LocalFile> files)
{
    if (files.isEmpty() || !m_local)
        co_return;
    QPointer<LocalBrowser> local = m_local;
    auto asking = confirmDestructive(
        local->desktop(),
        u"Chuyển "_s + QString::number(files.size()) + u" mục vào thùng rác?"_s,
        u"Anh có thể khôi phục lại các mục này trong Thùng rác của máy bất kỳ lúc nào."_s,
        u"Chuyển vào thùng rác"_s);
    const bool confirmed = co_await asking;
    if (!local || !confirmed)
        co_return;
    auto trashing = local->trashLocalFiles(std::move(files));
    co_await trashing;
}

QMenu *LocalPane::createContextMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    if (!m_local)
        return menu;
    const QSet<QString> selection = m_local->localSelection();
    const QList<LocalFile> listed = listedSelection();
    QPointer<LocalBrowser> local = m_local;

    if (selection.size() == 1 && listed.size() == 1) {
        const QString path = listed.constFirst().url;
        menu->addAction(Icons::symbol(u"eye"_s), u"Xem trước"_s, this, [local, path] {
            if (local)
                local->desktop().preview(path);
        });
    }
    QStringList paths;
    for (const LocalFile &file : listed)
        paths.append(file.url);

    QAction *upload = menu->addAction(u"Tải lên Google Drive"_s, this,
                                      [this, paths] { emit uploadRequested(paths); });
    // Offered while the Drive pane shows a folder that takes uploads.
    upload->setEnabled(!selection.isEmpty() && local && m_canUpload && m_canUpload());

    QAction *reveal = menu->addAction(u"Hiện trong trình quản lý file"_s, this, [local, paths] {
        if (local)
            local->desktop().reveal(paths);
    });
    reveal->setEnabled(!selection.isEmpty());

    menu->addSeparator();
    QAction *trash = menu->addAction(Icons::symbol(u"trash"_s, Palette::destructive()),
                                     u"Chuyển vào thùng rác"_s, this,
                                     [this, listed] { detach(confirmTrash(listed), {}); });
    trash->setEnabled(!selection.isEmpty());
    return menu;
}

void LocalPane::showContextMenu(const QPoint &position)
{
    QMenu *menu = createContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(position));
}

} // namespace Tarnwick
