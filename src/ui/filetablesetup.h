#pragma once

#include <QtGlobal>

#include <optional>

class QFontMetrics;
class QHBoxLayout;
class QHeaderView;
class QLabel;
class QString;
class QTimer;
class QWidget;

namespace Tarnwick {

// Pieces the local and the Drive panes build alike around their file tables.

// The name column stretches, the date column is wide enough for a date in metrics and may be
// dragged, the size column is fixed.
void setUpFileTableHeader(QHeaderView *header, const QFontMetrics &metrics);
// Puts view alone and edge to edge on page.
void fillListPage(QWidget *page, QWidget *view);
// The row under a table: count on the left, free space on the right, both muted.
QHBoxLayout *makeFileTableFooter(QLabel *count, QLabel *free);
// The footer's count: "N mục" for the rows, or the selected count and its bytes when any are.
QString fileCountText(int rows, qsizetype selected, qint64 selectedBytes);
// The footer's free space, or "—" when it is unknown.
QString freeSpaceText(std::optional<qint64> free);
// Rows are rebuilt once per event-loop turn however many changes arrive in it.
void setUpRowsTimer(QTimer *timer);

} // namespace Tarnwick
