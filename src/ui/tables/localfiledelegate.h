#pragma once

#include <QStyledItemDelegate>

namespace Tarnwick {

// Paints the local pane's rows; a folder's name cell carries a small chevron button that opens
// the folder (a click on it neither selects nor starts a drag).
class LocalFileDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalFileDelegate)

public:
    explicit LocalFileDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Where the chevron of a folder's name cell sits.
    static QRect chevronRect(const QRect &cell);
    static bool hasChevron(const QModelIndex &index);

signals:
    void openFolderRequested(const QModelIndex &index);
};

} // namespace Tarnwick
