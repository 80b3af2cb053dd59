#pragma once

#include <QPersistentModelIndex>
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
    // Whether any part of the transfer row `row` or its file rows lies in the viewport.
    bool showsRow(int row) const;
    // The columns at their widths, the status column wide enough for its longest text, and the
    // source and destination sharing what is left of the view's width (never under 80 each),
    // so the last columns stay in sight without a horizontal scroll bar.
    void fitColumns();

protected:
    // The base view repaints the whole table for a change of several columns: only the changed
    // rows are repainted here, and nothing when they are out of sight. Row heights follow the
    // row's kind, never its data, so nothing else needs redoing.
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = {}) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    // Brings the row asked for last back into sight (deferred until the rows are laid out).
    void follow();

    TransferQueueModel *m_model;
    // The transfer the user added last: kept in sight as file rows come and go above it, until
    // the user scrolls.
    QPersistentModelIndex m_followed;
    TransferRowDelegate *m_delegate;
};

} // namespace Tarnwick
