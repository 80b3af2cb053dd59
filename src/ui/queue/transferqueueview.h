#pragma once

#include <QTreeView>

class QTimer;

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
    // Changed rows are repainted together at most this often.
    static constexpr int repaintIntervalMs = 100;
    // The columns at their widths, the status column wide enough for its longest text, and the
    // source and destination sharing what is left of the view's width (never under 80 each),
    // so the last columns stay in sight without a horizontal scroll bar.
    void fitColumns();

protected:
    // Progress changes rows hundreds of times a second, and the base view repaints the whole
    // table for each multi-column change: the repaints are gathered on a timer instead. Row
    // heights follow the row's kind, never its data, so nothing else needs redoing.
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = {}) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    TransferQueueModel *m_model;
    TransferRowDelegate *m_delegate;
    QTimer *m_repaintTimer;
};

} // namespace Tarnwick
