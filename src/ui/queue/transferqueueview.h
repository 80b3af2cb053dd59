#pragma once

#include <QTreeView>

namespace Tarnwick {

class TransferQueueModel;
class TransferRowDelegate;

// The queue's table: the nine columns at their widths, one row per transfer with its files in
// flight always unfolded below it, no selection; the delegate paints and answers the rows.
class TransferQueueView final : public QTreeView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferQueueView)

public:
    explicit TransferQueueView(TransferQueueModel *model, QWidget *parent = nullptr);

    TransferQueueModel *queueModel() const { return m_model; }
    TransferRowDelegate *rowDelegate() const { return m_delegate; }

private:
    TransferQueueModel *m_model;
    TransferRowDelegate *m_delegate;
};

} // namespace Tarnwick
