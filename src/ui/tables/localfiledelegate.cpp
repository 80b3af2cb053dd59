#include "tables/localfiledelegate.h"

#include "common/icons.h"
#include "tables/localfiletablemodel.h"
#include "common/palette.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
constexpr int chevronSide = 20;
constexpr int rowHeight = 28;
} // namespace

LocalFileDelegate::LocalFileDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

bool LocalFileDelegate::hasChevron(const QModelIndex &index)
{
    return index.column() == LocalFileTableModel::NameColumn &&
           index.data(LocalFileTableModel::IsFolderRole).toBool();
}

QRect LocalFileDelegate::chevronRect(const QRect &cell)
{
    return QRect(cell.right() - chevronSide - 4, cell.center().y() - chevronSide / 2 + 1,
                 chevronSide, chevronSide);
}

void LocalFileDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    QStyleOptionViewItem opt = option;
    // No dotted focus frame: the selection colour already marks the row.
    opt.state &= ~QStyle::State_HasFocus;
    if (!hasChevron(index)) {
        QStyledItemDelegate::paint(painter, opt, index);
        return;
    }
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    // The row's background spans the whole cell; the name stops short of the chevron.
    QStyleOptionViewItem background = opt;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);
    const QRect chevron = chevronRect(option.rect);
    opt.rect.setRight(chevron.left() - 2);
    QStyledItemDelegate::paint(painter, opt, index);
    Icons::symbol(u"chevron.right"_s, Palette::muted())
        .paint(painter, chevron.adjusted(4, 4, -4, -4));
}

QSize LocalFileDelegate::sizeHint(const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(rowHeight);
    if (hasChevron(index))
        size.rwidth() += chevronSide + 6;
    return size;
}

bool LocalFileDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                    const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (hasChevron(index) &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton &&
            chevronRect(option.rect).contains(mouse->position().toPoint())) {
            if (event->type() == QEvent::MouseButtonRelease)
                emit openFolderRequested(index);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool LocalFileDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                  const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && hasChevron(index) &&
        chevronRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), u"Mở thư mục này (hoặc nhấp đúp)"_s, view,
                           chevronRect(option.rect));
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace Tarnwick
