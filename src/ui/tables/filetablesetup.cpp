#include "tables/filetablesetup.h"

#include "tables/filetablemodel.h"
#include "common/icons.h"
#include "panes/searchfield.h"
#include "panes/sortmenubutton.h"

#include "records/byteformat.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QAbstractItemView>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QVBoxLayout *makePaneLayout(QFrame *pane)
{
    pane->setObjectName(u"pane"_s);
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(14, 12, 14, 10);
    layout->setSpacing(10);
    return layout;
}

void setUpBackButton(QToolButton *button)
{
    button->setIcon(Icons::symbol(u"chevron.left"_s));
    button->setCursor(Qt::PointingHandCursor);
    button->setFixedSize(30, 28);
    button->setIconSize(QSize(15, 15));
}

QHBoxLayout *makeSearchRow(SearchField *search, SortMenuButton *sort)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    row->addWidget(search, 1);
    row->addWidget(sort);
    return row;
}

void setUpFileTableHeader(QHeaderView *header, const QFontMetrics &metrics)
{
    header->setMinimumSectionSize(70);
    header->setSectionResizeMode(FileTableModel::NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(FileTableModel::ModifiedColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(FileTableModel::SizeColumn, QHeaderView::Fixed);
    header->resizeSection(FileTableModel::ModifiedColumn,
                          qMax(90, metrics.horizontalAdvance(u"00/00/00 00:00"_s) + 16));
    header->resizeSection(FileTableModel::SizeColumn, 78);
    // The name column stretches: it gets what the others leave, so the view leaves it its minimum.
    if (auto *view = qobject_cast<QAbstractItemView *>(header->parentWidget())) {
        const int others = header->sectionSize(FileTableModel::ModifiedColumn) +
                           header->sectionSize(FileTableModel::SizeColumn);
        // Room for the vertical scroll bar and the frame.
        view->setMinimumWidth(nameColumnMinimumWidth + others + 16);
    }
}

void chainTabOrder(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void fillListPage(QWidget *page, QWidget *view)
{
    auto *listLayout = new QVBoxLayout(page);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->addWidget(view);
}

QHBoxLayout *makeFileTableFooter(QLabel *count, QLabel *free)
{
    auto *footer = new QHBoxLayout;
    count->setProperty("role", u"muted"_s);
    free->setProperty("role", u"muted"_s);
    footer->addWidget(count);
    footer->addStretch(1);
    footer->addWidget(free);
    return footer;
}

QString fileCountText(int rows, qsizetype selected, qint64 selectedBytes)
{
    if (selected > 0)
        return QString::number(selected) + u" mục đã chọn: "_s + formatByteCount(selectedBytes);
    return QString::number(rows) + u" mục"_s;
}

QString freeSpaceText(std::optional<qint64> free)
{
    return free && *free >= 0 ? formatByteCount(*free) + u" trống"_s : u"—"_s;
}

void setUpRowsTimer(QTimer *timer)
{
    timer->setSingleShot(true);
    timer->setInterval(0);
}

} // namespace Tarnwick
