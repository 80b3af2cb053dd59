#pragma once

#include <initializer_list>

#include <QtGlobal>

#include <optional>

class QFontMetrics;
class QFrame;
class QHBoxLayout;
class QHeaderView;
class QLabel;
class QString;
class QTimer;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace Tarnwick {

class SearchField;
class SortMenuButton;

// Pieces the local and the Drive panes build alike around their file tables.

// The pane's column of rows, with the pane's margins and spacing.
QVBoxLayout *makePaneLayout(QFrame *pane);
// The chevron left of the path that leads out of the shown folder.
void setUpBackButton(QToolButton *button);
// The search field taking the room, the sort button beside it.
QHBoxLayout *makeSearchRow(SearchField *search, SortMenuButton *sort);

// The name column stretches, the date column is wide enough for a date in metrics and may be
// dragged, the size column is fixed.
// The view of header is kept wide enough for the name column's minimum beside the other two.
void setUpFileTableHeader(QHeaderView *header, const QFontMetrics &metrics);
constexpr int nameColumnMinimumWidth = 120;
// Tab and Shift+Tab visit widgets in this order (widgets moved into pages after their creation
// would otherwise come last).
void chainTabOrder(std::initializer_list<QWidget *> widgets);
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
