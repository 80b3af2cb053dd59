#include "queue/transferrowdelegate.h"

#include "queue/transferqueuemodel.h"

#include "common/icons.h"
#include "common/palette.h"

#include "async/clock.h"
#include "records/diskspaceutilities.h"
#include "records/displaytext.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

using Column = TransferQueueModel::Column;
constexpr int iconSide = 14;
constexpr int smallIconSide = 12;
constexpr int padding = 6;

const TransferQueueModel *queueModel(const QModelIndex &index)
{
    return qobject_cast<const TransferQueueModel *>(index.model());
}

// Fonts and colours of one paint call.
struct Ink
{
    QPainter *painter;
    QFont font;
    QFont small;
    QFontMetrics metrics;
    QFontMetrics smallMetrics;

    Ink(QPainter *p, const QFont &base)
        : painter(p)
        , font(base)
        , small(smaller(base))
        , metrics(base)
        , smallMetrics(small)
    {
    }

    static QFont smaller(QFont f)
    {
        if (f.pixelSize() > 0)
            f.setPixelSize(std::max(f.pixelSize() - 2, 8));
        else
            f.setPointSizeF(std::max(f.pointSizeF() - 1.5, 6.0));
        return f;
    }

    // Draws text elided to rect, vertically centred; returns the width used.
    int text(const QRect &rect, const QString &text, const QColor &color, bool isSmall = false,
             Qt::TextElideMode elide = Qt::ElideRight, Qt::Alignment align = Qt::AlignLeft) const
    {
        if (rect.width() <= 0 || text.isEmpty())
            return 0;
        const QFontMetrics &m = isSmall ? smallMetrics : metrics;
        const QString shown = m.elidedText(text, elide, rect.width());
        painter->setFont(isSmall ? small : font);
        painter->setPen(color);
        painter->drawText(rect, int(align | Qt::AlignVCenter) | Qt::TextSingleLine, shown);
        return std::min(m.horizontalAdvance(shown), rect.width());
    }

    // An icon at the left of rect, vertically centred; returns the room it took.
    int icon(const QRect &rect, const QString &symbol, const QColor &color, int side = iconSide) const
    {
        if (symbol.isEmpty())
            return 0;
        const QRect at(rect.left(), rect.center().y() - side / 2 + 1, side, side);
        Icons::symbol(symbol, color).paint(painter, at);
        return side + 5;
    }

    // Icon and text on one line of rect.
    void iconText(QRect rect, const QString &symbol, const QString &text, const QColor &iconColor,
                  const QColor &textColor, bool isSmall = false,
                  Qt::TextElideMode elide = Qt::ElideRight) const
    {
        rect.setLeft(rect.left() + icon(rect, symbol, iconColor, isSmall ? smallIconSide : iconSide));
        this->text(rect, text, textColor, isSmall, elide);
    }
};

QRect topHalf(const QRect &r)
{
    return QRect(r.left(), r.top() + 3, r.width(), r.height() / 2 - 2);
}

QRect bottomHalf(const QRect &r)
{
    return QRect(r.left(), r.top() + r.height() / 2, r.width(), r.height() / 2 - 3);
}

void paintTransferCell(const Ink &ink, const QRect &cell, int column, const Transfer &t,
                       const QModelIndex &index)
{
    const QColor text = Palette::text();
    const QColor muted = Palette::muted();
    switch (column) {
    case Column::DirectionColumn:
        ink.iconText(cell, QueueTexts::directionSymbol(t), u"Transfer"_s, QueueTexts::cyan(), muted,
                     true);
        break;
    case Column::SourceColumn: {
        const TransferEnd end = t.displaySource();
        const QueueTexts::SubLine sub = QueueTexts::subLine(t);
        if (sub.text.isEmpty()) {
            ink.iconText(cell, QueueTexts::endSymbol(t, end), end.path, muted, text, false,
                         Qt::ElideMiddle);
        } else {
            ink.iconText(topHalf(cell), QueueTexts::endSymbol(t, end), end.path, muted, text, false,
                         Qt::ElideMiddle);
            // A failure's reason reads from its start; a file line keeps its name's both ends.
            const bool reason = t.state == TransferState::Failed;
            ink.iconText(bottomHalf(cell).adjusted(4, 0, 0, 0), sub.symbol,
                         DisplayText::message(sub.text), sub.color, reason ? sub.color : muted,
                         true, reason ? Qt::ElideRight : Qt::ElideMiddle);
        }
        break;
    }
    case Column::DestinationColumn: {
        const TransferEnd end = t.displayDestination();
        ink.iconText(cell, QueueTexts::endSymbol(t, end), end.path, muted, text, false,
                     Qt::ElideMiddle);
        break;
    }
    case Column::StatusColumn: {
        const QueueTexts::Status s = QueueTexts::status(t);
        ink.iconText(cell, s.symbol, s.text, s.color, s.color, false);
        break;
    }
    case Column::SizeColumn:
        ink.text(cell, QueueTexts::sizeText(t), text, true);
        break;
    case Column::ProgressColumn: {
        if (t.preparing()) {
            ink.text(cell, QueueTexts::progressText(t), muted, true);
            break;
        }
        const int percent = t.percentage();
        const int label = ink.smallMetrics.horizontalAdvance(u"100%"_s) + 4;
        const QRectF bar(cell.left(), cell.center().y() - 1.5, cell.width() - label, 5);
        TransferRowDelegate::paintProgressBar(ink.painter, bar, percent, t.state);
        ink.text(QRect(cell.right() - label + 1, cell.top(), label, cell.height()),
                 QString::number(percent) + u'%', muted, true, Qt::ElideNone, Qt::AlignRight);
        break;
    }
    case Column::SpeedColumn:
        ink.text(cell, QueueTexts::speedText(t), text, true);
        break;
    case Column::RemainingColumn: {
        const QString elapsed = QueueTexts::elapsedText(t, Clock::current().now());
        if (elapsed.isEmpty()) {
            ink.text(cell, QueueTexts::remainingText(t), text, true);
        } else {
            ink.text(topHalf(cell), QueueTexts::remainingText(t), text, true);
            ink.text(bottomHalf(cell), elapsed, muted, true);
        }
        break;
    }
    case Column::ButtonsColumn:
        for (const auto &placed : TransferRowDelegate::buttons(index, cell))
            Icons::symbol(placed.button.symbol, placed.button.color)
                .paint(ink.painter, placed.rect.adjusted(3, 3, -3, -3));
        break;
    default:
        break;
    }
}

void paintWorkerCell(const Ink &ink, const QRect &cell, int column, const FileInFlight &w)
{
    const QColor text = Palette::text();
    const QColor muted = Palette::muted();
    const QString local = u"laptopcomputer"_s;
    const QString cloud = u"cloud.fill"_s;
    switch (column) {
    case Column::DirectionColumn: {
        QRect r = cell;
        r.setLeft(r.left() + ink.text(r, u"↳"_s, muted, true) + 4);
        ink.iconText(r, u"doc.fill"_s, u"File"_s, muted, muted, true);
        break;
    }
    case Column::SourceColumn:
        ink.text(topHalf(cell), QueueTexts::workerNameText(w), text, true, Qt::ElideMiddle);
        ink.iconText(bottomHalf(cell), w.isUpload ? local : cloud, w.sourcePath, muted, muted, true,
                     Qt::ElideMiddle);
        break;
    case Column::DestinationColumn:
        ink.iconText(cell, w.isUpload ? cloud : local, w.destinationPath, muted, muted, true,
                     Qt::ElideMiddle);
        break;
    case Column::SizeColumn:
        ink.text(cell, DiskSpaceUtilities::formatTransferSize(w.done, w.total), muted, true);
        break;
    case Column::ProgressColumn: {
        const QString label = QueueTexts::workerProgressText(w);
        const int room = ink.smallMetrics.horizontalAdvance(u"Đang tải…"_s) + 4;
        const QRectF bar(cell.left(), cell.center().y() - 1, std::max(cell.width() - room, 8), 3);
        TransferRowDelegate::paintProgressBar(ink.painter, bar, w.percentage(),
                                              TransferState::Working);
        ink.text(QRect(cell.right() - room + 1, cell.top(), room, cell.height()), label, muted,
                 true, Qt::ElideRight, Qt::AlignRight);
        break;
    }
    case Column::SpeedColumn:
        ink.text(cell, QueueTexts::workerSpeedText(w), muted, true);
        break;
    case Column::RemainingColumn:
        ink.text(cell, QueueTexts::workerRemainingText(w), muted, true);
        break;
    default:
        break;
    }
}

} // namespace

TransferRowDelegate::TransferRowDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{
}

QList<TransferRowDelegate::PlacedButton> TransferRowDelegate::buttons(const QModelIndex &index,
                                                                      const QRect &cell)
{
    QList<PlacedButton> placed;
    const TransferQueueModel *model = queueModel(index);
    if (!model || index.column() != Column::ButtonsColumn || model->worker(index))
        return placed;
    const Transfer *t = model->transfer(index);
    if (!t)
        return placed;
    const QList<QueueTexts::RowButton> all = QueueTexts::rowButtons(*t);
    int right = cell.right() - 3;
    for (qsizetype i = all.size() - 1; i >= 0; --i) {
        const QRect rect(right - buttonSide + 1, cell.center().y() - buttonSide / 2 + 1, buttonSide,
                         buttonSide);
        placed.prepend({rect, all[i]});
        right = rect.left() - 2;
    }
    return placed;
}

void TransferRowDelegate::paintProgressBar(QPainter *painter, const QRectF &rect, int percentage,
                                           TransferState state)
{
    if (rect.width() <= 0)
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    const qreal radius = rect.height() / 2;
    painter->setBrush(QColor(255, 255, 255, 22));
    painter->drawRoundedRect(rect, radius, radius);
    const qreal filled = rect.width() * std::clamp(percentage, 0, 100) / 100.0;
    if (filled > 0) {
        const QRectF part(rect.left(), rect.top(), filled, rect.height());
        switch (state) {
        case TransferState::Paused:
            painter->setBrush(QueueTexts::yellow());
            break;
        case TransferState::Failed:
            painter->setBrush(QueueTexts::orange());
            break;
        case TransferState::Done:
            painter->setBrush(QueueTexts::green());
            break;
        default: {
            QLinearGradient fill(rect.topLeft(), rect.topRight());
            fill.setColorAt(0, QueueTexts::cyan());
            fill.setColorAt(1, Palette::teal());
            painter->setBrush(fill);
            break;
        }
        }
        painter->drawRoundedRect(part, radius, radius);
    }
    painter->restore();
}

void TransferRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                const QModelIndex &index) const
{
    const TransferQueueModel *model = queueModel(index);
    const Transfer *t = model ? model->transfer(index) : nullptr;
    if (!t)
        return;
    const FileInFlight *w = model->worker(index);
    painter->save();
    const QRect r = option.rect;
    // Sub-rows sit a shade darker; transfer rows alternate.
    if (w)
        painter->fillRect(r, QColor(0, 0, 0, 45));
    else if (index.row() % 2 == 0)
        painter->fillRect(r, QColor(255, 255, 255, 7));
    if (option.state & QStyle::State_MouseOver)
        painter->fillRect(r, QColor(255, 255, 255, 9));
    if (!w && index.row() > 0) {
        painter->setPen(Palette::line());
        painter->drawLine(r.topLeft(), r.topRight());
    }
    const Ink ink(painter, option.font);
    const QRect cell = index.column() == Column::ButtonsColumn
                           ? r
                           : r.adjusted(padding, 0, -padding, 0);
    if (w)
        paintWorkerCell(ink, cell, index.column(), *w);
    else
        paintTransferCell(ink, cell, index.column(), *t, index);
    painter->restore();
}

QSize TransferRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const
{
    const TransferQueueModel *model = queueModel(index);
    return QSize(TransferQueueModel::columnWidth(index.column()),
                 model && model->worker(index) ? subRowHeight : rowHeight);
}

bool TransferRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *model,
                                      const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (index.column() == Column::ButtonsColumn &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
         event->type() == QEvent::MouseButtonDblClick)) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        for (const PlacedButton &placed : buttons(index, option.rect)) {
            if (!placed.rect.contains(mouse->position().toPoint()))
                continue;
            if (event->type() == QEvent::MouseButtonRelease) {
                const Transfer *t = queueModel(index)->transfer(index);
                // The transfer may go away on the click's effect: report a copy of its id.
                const QUuid id = t->id;
                emit buttonClicked(id, placed.button.kind);
            }
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool TransferRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                    const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && index.column() == Column::ButtonsColumn) {
        for (const PlacedButton &placed : buttons(index, option.rect)) {
            if (placed.rect.contains(event->pos())) {
                QToolTip::showText(event->globalPos(), placed.button.hint, view, placed.rect);
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace Tarnwick
