#pragma once

#include "queue/queuetexts.h"

#include <QStyledItemDelegate>
#include <QUuid>

namespace Tarnwick {

// Paints the queue panel's cells from the transfer (or file in flight) behind each row: the
// direction, the two ends with their icons, the status by state, sizes, the progress bar, speed,
// the time left and taken, and the row's buttons, which it also answers: a click on a button
// reports it, a hover over one shows its help text.
class TransferRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferRowDelegate)

public:
    static constexpr int rowHeight = 42;
    static constexpr int subRowHeight = 34;
    static constexpr int buttonSide = 18;

    explicit TransferRowDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    struct PlacedButton
    {
        QRect rect;
        QueueTexts::RowButton button;
    };
    // The buttons of a transfer row's button cell (its whole rectangle), right-aligned in it.
    static QList<PlacedButton> buttons(const QModelIndex &index, const QRect &cell);
    // These buttons placed in the cell.
    static QList<PlacedButton> place(const QList<QueueTexts::RowButton> &all, const QRect &cell);
    // Where button i of count sits in the cell.
    static QRect buttonRect(const QRect &cell, qsizetype count, qsizetype i);
    // A bar 5 high filled to percentage, coloured by state.
    static void paintProgressBar(QPainter *painter, const QRectF &rect, int percentage,
                                 TransferState state);

signals:
    void buttonClicked(const QUuid &transfer, QueueTexts::RowButton::Kind kind);
};

} // namespace Tarnwick
