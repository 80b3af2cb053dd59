#include "queue/transferqueueview.h"

#include "queue/transferqueuemodel.h"
#include "queue/transferrowdelegate.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace Tarnwick {

TransferQueueView::TransferQueueView(TransferQueueModel *model, QWidget *parent)
    : QTreeView(parent)
    , m_model(model)
    , m_delegate(new TransferRowDelegate(this))
{
    model->setShownRows([this](int row) { return showsRow(row); });

    setObjectName(u"transferQueueView"_s);
    setModel(model);
    setItemDelegate(m_delegate);
    // Sub-rows line up under the same columns as their transfer.
    setRootIsDecorated(false);
    setIndentation(0);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAllColumnsShowFocus(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    QHeaderView *head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(false);
    head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    head->setMinimumSectionSize(30);
    for (int column = 0; column < TransferQueueModel::ColumnCount; ++column) {
        head->setSectionResizeMode(column, column == TransferQueueModel::ButtonsColumn
                                               ? QHeaderView::Fixed
                                               : QHeaderView::Interactive);
        head->resizeSection(column, TransferQueueModel::columnWidth(column));
    }

    // Every transfer stays unfolded, so its files appear as soon as workers pick them up.
    expandAll();
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &parent, int first, int last) {
                if (parent.isValid()) {
                    // File rows appearing above the followed transfer push it down.
                    follow();
                    return;
                }
                for (int row = first; row <= last; ++row)
                    setExpanded(m_model->index(row, 0), true);
                // A new transfer is what the user just asked for.
                m_followed = QPersistentModelIndex(m_model->index(last, 0));
                follow();
            });
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TransferQueueView::follow);
    // Any move of the scroll bar by the user ends the following.
    connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { m_followed = QPersistentModelIndex(); });
    connect(model, &QAbstractItemModel::modelReset, this, &QTreeView::expandAll);
}

void TransferQueueView::follow()
{
    if (!m_followed.isValid())
        return;
    QTimer::singleShot(0, this, [this] {
        if (m_followed.isValid())
            scrollTo(m_followed, QAbstractItemView::EnsureVisible);
    });
}

void TransferQueueView::wheelEvent(QWheelEvent *event)
{
    m_followed = QPersistentModelIndex();
    QTreeView::wheelEvent(event);
}

void TransferQueueView::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    fitColumns();
    m_model->shownRowsChanged();
}

void TransferQueueView::scrollContentsBy(int dx, int dy)
{
    QTreeView::scrollContentsBy(dx, dy);
    if (dy != 0)
        m_model->shownRowsChanged();
}

bool TransferQueueView::showsRow(int row) const
{
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid())
        return false;
    QRect block = visualRect(index);
    if (const int files = m_model->rowCount(index); files > 0)
        block = block.united(visualRect(m_model->index(files - 1, 0, index)));
    return block.isValid() && block.bottom() >= 0 && block.top() <= viewport()->height();
}

void TransferQueueView::fitColumns()
{
    using Column = TransferQueueModel::Column;
    QList<int> widths;
    for (int column = 0; column < TransferQueueModel::ColumnCount; ++column)
        widths.append(TransferQueueModel::columnWidth(column));
    // Icon, gap and both paddings around the widest state text.
    int status = 0;
    for (const QString &text : {u"Đang chạy"_s, u"Tạm dừng"_s, u"Hoàn tất"_s, u"Đang chờ"_s,
                                u"Đã hủy"_s, u"Lỗi"_s, u"100%"_s})
        status = std::max(status, fontMetrics().horizontalAdvance(text));
    widths[Column::StatusColumn] = std::max(widths[Column::StatusColumn], status + 14 + 5 + 12 + 2);
    widths[Column::RemainingColumn] = std::max(
        widths[Column::RemainingColumn], fontMetrics().horizontalAdvance(u"còn ~59p 59s"_s) + 12 + 2);
    widths[Column::ProgressColumn] = std::max(
        widths[Column::ProgressColumn], fontMetrics().horizontalAdvance(u"Đang chuẩn bị…"_s) + 12 + 2);
    int fixed = 0;
    for (int column = 0; column < TransferQueueModel::ColumnCount; ++column)
        if (column != Column::SourceColumn && column != Column::DestinationColumn)
            fixed += widths[column];
    const int natural = widths[Column::SourceColumn] + widths[Column::DestinationColumn];
    const int room = std::max(viewport()->width() - fixed, 160);
    const int source = std::max(80, room * widths[Column::SourceColumn] / natural);
    widths[Column::SourceColumn] = source;
    widths[Column::DestinationColumn] = std::max(80, room - source);
    for (int column = 0; column < TransferQueueModel::ColumnCount; ++column)
        if (header()->sectionSize(column) != widths[column])
            header()->resizeSection(column, widths[column]);
}

void TransferQueueView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                                    const QList<int> &)
{
    // The rows from topLeft to bottomRight share a parent and follow each other on screen.
    const QRect first = visualRect(topLeft.siblingAtColumn(0));
    const QRect last = visualRect(bottomRight.siblingAtColumn(0));
    if (!first.isValid() || !last.isValid())
        return;
    const QRect rows(0, first.top(), viewport()->width(), last.bottom() - first.top() + 1);
    if (rows.intersects(viewport()->rect()))
        viewport()->update(rows);
}

} // namespace Tarnwick
