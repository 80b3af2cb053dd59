#include "filetablesetup.h"

#include "filetablemodel.h"

#include "byteformat.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

void setUpFileTableHeader(QHeaderView *header, const QFontMetrics &metrics)
{
    header->setMinimumSectionSize(70);
    header->setSectionResizeMode(FileTableModel::NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(FileTableModel::ModifiedColumn, QHeaderView::Interactive);
    header->setSectionResizeMode(FileTableModel::SizeColumn, QHeaderView::Fixed);
    header->resizeSection(FileTableModel::ModifiedColumn,
                          qMax(90, metrics.horizontalAdvance(u"00/00/00 00:00"_s) + 16));
    header->resizeSection(FileTableModel::SizeColumn, 78);
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
