#include "queue/transferqueueview.h"

#include "queue/transferqueuemodel.h"
#include "queue/transferrowdelegate.h"

#include <QHeaderView>

#include <algorithm>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace Tarnwick {

TransferQueueView::TransferQueueView(TransferQueueModel *model, QWidget *parent)
    : QTreeView(parent)
    , m_model(model)
    , m_delegate(new TransferRowDelegate(this))
    , m_repaintTimer(new QTimer(this))
{
    m_repaintTimer->setSingleShot(true);
    m_repaintTimer->setInterval(repaintIntervalMs);
    connect(m_repaintTimer, &QTimer::timeout, viewport(), qOverload<>(&QWidget::update));

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
                if (parent.isValid())
                    return;
                for (int row = first; row <= last; ++row)
                    setExpanded(m_model->index(row, 0), true);
                // A new transfer is what the user just asked for: bring it into sight once the
                // view has laid its rows out.
                QTimer::singleShot(0, this, [this, row = QPersistentModelIndex(m_model->index(last, 0))] {
                    if (row.isValid())
                        scrollTo(row, QAbstractItemView::EnsureVisible);
                });
            });
    connect(model, &QAbstractItemModel::modelReset, this, &QTreeView::expandAll);
}

void TransferQueueView::resizeEvent(QResizeEvent *event)
{
    QTreeView::resizeEvent(event);
    fitColumns();
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

void TransferQueueView::dataChanged(const QModelIndex &, const QModelIndex &, const QList<int> &)
{
    if (!m_repaintTimer->isActive())
        m_repaintTimer->start();
}

} // namespace Tarnwick
