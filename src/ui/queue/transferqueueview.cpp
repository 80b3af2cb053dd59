#include "queue/transferqueueview.h"

#include "queue/transferqueuemodel.h"
#include "queue/transferrowdelegate.h"

#include <QHeaderView>
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
            });
    connect(model, &QAbstractItemModel::modelReset, this, &QTreeView::expandAll);
}

void TransferQueueView::dataChanged(const QModelIndex &, const QModelIndex &, const QList<int> &)
{
    if (!m_repaintTimer->isActive())
        m_repaintTimer->start();
}

} // namespace Tarnwick
