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
#include <QStaticText>
#include <QToolTip>

#include <optional>
#include <unordered_map>

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

// The two fonts of the rows and their metrics, made again only when the view's font changes.
struct Fonts
{
    QFont font;
    QFont small;
    QFontMetrics metrics;
    QFontMetrics smallMetrics;

    explicit Fonts(const QFont &base)
        : font(base)
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

    // Counts the font changes, so texts elided in an older font are dropped.
    int generation = 0;

    static const Fonts &of(const QFont &base)
    {
        static std::optional<Fonts> kept;
        if (!kept || kept->font != base) {
            const int next = kept ? kept->generation + 1 : 0;
            kept.emplace(base);
            kept->generation = next;
        }
        return *kept;
    }
};

// A text as elided to a width, laid out once, with the width it takes: laying text out is the
// dearest part of painting a row, and a row's texts change a few times a second at most.
struct Elided
{
    QStaticText text;
    int advance = 0;
};

const Elided &elided(const QString &text, int width, Qt::TextElideMode mode, bool isSmall,
                     const Fonts &fonts)
{
    struct Key
    {
        QString text;
        int width;
        int mode;
        bool operator==(const Key &) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key &k) const noexcept
        {
            return qHashMulti(0, k.text, k.width, k.mode);
        }
    };
    static std::unordered_map<Key, Elided, KeyHash> kept;
    static int keptFor = -1;
    // A font change or a long run of changing texts starts the cache over.
    if (keptFor != fonts.generation || kept.size() > 4096) {
        kept.clear();
        keptFor = fonts.generation;
    }
    const Key key{text, width, int(mode) * 2 + int(isSmall)};
    if (auto found = kept.find(key); found != kept.end())
        return found->second;
    const QFontMetrics &m = isSmall ? fonts.smallMetrics : fonts.metrics;
    const QString shown = m.elidedText(text, mode, width);
    Elided e;
    e.text.setText(shown);
    e.text.setTextFormat(Qt::PlainText);
    e.text.setPerformanceHint(QStaticText::AggressiveCaching);
    e.text.prepare(QTransform(), isSmall ? fonts.small : fonts.font);
    e.advance = std::min(m.horizontalAdvance(shown), width);
    return kept.emplace(key, std::move(e)).first->second;
}

// Fonts and colours of one paint call.
struct Ink
{
    QPainter *painter;
    const Fonts &fonts;
    const QFontMetrics &smallMetrics;

    Ink(QPainter *p, const QFont &base)
        : painter(p)
        , fonts(Fonts::of(base))
        , smallMetrics(fonts.smallMetrics)
    {
    }

    // Draws text elided to rect, vertically centred; returns the width used.
    int text(const QRect &rect, const QString &text, const QColor &color, bool isSmall = false,
             Qt::TextElideMode elide = Qt::ElideRight, Qt::Alignment align = Qt::AlignLeft) const
    {
        if (rect.width() <= 0 || text.isEmpty())
            return 0;
        const Elided &shown = elided(text, rect.width(), elide, isSmall, fonts);
        const QFontMetrics &m = isSmall ? fonts.smallMetrics : fonts.metrics;
        const int x = align & Qt::AlignRight ? rect.right() + 1 - shown.advance : rect.left();
        const int y = rect.top() + (rect.height() - m.height()) / 2;
        painter->setFont(isSmall ? fonts.small : fonts.font);
        painter->setPen(color);
        painter->drawStaticText(x, y, shown.text);
        return shown.advance;
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

void paintTransferCell(const Ink &ink, const QRect &cell, int column, const TransferLook &look,
                       TransferState state)
{
    const QColor text = Palette::text();
    const QColor muted = Palette::muted();
    switch (column) {
    case Column::DirectionColumn:
        ink.iconText(cell, look.directionSymbol, u"Transfer"_s, QueueTexts::cyan(), muted, true);
        break;
    case Column::SourceColumn: {
        const QueueTexts::SubLine &sub = look.subLine;
        if (sub.text.isEmpty()) {
            ink.iconText(cell, look.sourceSymbol, look.source.path, muted, text, false,
                         Qt::ElideMiddle);
        } else {
            ink.iconText(topHalf(cell), look.sourceSymbol, look.source.path, muted, text, false,
                         Qt::ElideMiddle);
            // A failure's reason reads from its start; a file line keeps its name's both ends.
            ink.iconText(bottomHalf(cell).adjusted(4, 0, 0, 0), sub.symbol, sub.text, sub.color,
                         look.failed ? sub.color : muted, true,
                         look.failed ? Qt::ElideRight : Qt::ElideMiddle);
        }
        break;
    }
    case Column::DestinationColumn:
        ink.iconText(cell, look.destinationSymbol, look.destination.path, muted, text, false,
                     Qt::ElideMiddle);
        break;
    case Column::StatusColumn:
        ink.iconText(cell, look.status.symbol, look.status.text, look.status.color,
                     look.status.color, false);
        break;
    case Column::SizeColumn:
        ink.text(cell, look.size, text, true);
        break;
    case Column::ProgressColumn: {
        if (look.preparing) {
            ink.text(cell, look.progress, muted, true);
            break;
        }
        static const QString widest = u"100%"_s;
        const int label = ink.smallMetrics.horizontalAdvance(widest) + 4;
        const QRectF bar(cell.left(), cell.center().y() - 1.5, cell.width() - label, 5);
        TransferRowDelegate::paintProgressBar(ink.painter, bar, look.percent, state);
        ink.text(QRect(cell.right() - label + 1, cell.top(), label, cell.height()),
                 look.percentLabel, muted, true, Qt::ElideNone, Qt::AlignRight);
        break;
    }
    case Column::SpeedColumn:
        ink.text(cell, look.speed, text, true);
        break;
    case Column::RemainingColumn:
        if (look.elapsed.isEmpty()) {
            ink.text(cell, look.remaining, text, true);
        } else {
            ink.text(topHalf(cell), look.remaining, text, true);
            ink.text(bottomHalf(cell), look.elapsed, muted, true);
        }
        break;
    case Column::ButtonsColumn:
        for (qsizetype i = 0; i < look.buttons.size(); ++i) {
            const QueueTexts::RowButton &button = look.buttons[i];
            Icons::symbol(button.symbol, button.color)
                .paint(ink.painter, TransferRowDelegate::buttonRect(cell, look.buttons.size(), i)
                                        .adjusted(3, 3, -3, -3));
        }
        break;
    default:
        break;
    }
}

void paintWorkerCell(const Ink &ink, const QRect &cell, int column, const WorkerLook &w,
                     bool isUpload)
{
    const QColor text = Palette::text();
    const QColor muted = Palette::muted();
    static const QString local = u"laptopcomputer"_s;
    static const QString cloud = u"cloud.fill"_s;
    switch (column) {
    case Column::DirectionColumn: {
        QRect r = cell;
        r.setLeft(r.left() + ink.text(r, u"↳"_s, muted, true) + 4);
        ink.iconText(r, u"doc.fill"_s, u"File"_s, muted, muted, true);
        break;
    }
    case Column::SourceColumn:
        ink.text(topHalf(cell), w.name, text, true, Qt::ElideMiddle);
        ink.iconText(bottomHalf(cell), isUpload ? local : cloud, w.source, muted, muted, true,
                     Qt::ElideMiddle);
        break;
    case Column::DestinationColumn:
        ink.iconText(cell, isUpload ? cloud : local, w.destination, muted, muted, true,
                     Qt::ElideMiddle);
        break;
    case Column::SizeColumn:
        ink.text(cell, w.size, muted, true);
        break;
    case Column::ProgressColumn: {
        static const QString widest = u"Đang tải…"_s;
        const int room = ink.smallMetrics.horizontalAdvance(widest) + 4;
        const QRectF bar(cell.left(), cell.center().y() - 1, std::max(cell.width() - room, 8), 3);
        TransferRowDelegate::paintProgressBar(ink.painter, bar, w.percent, TransferState::Working);
        ink.text(QRect(cell.right() - room + 1, cell.top(), room, cell.height()), w.progress,
                 muted, true, Qt::ElideRight, Qt::AlignRight);
        break;
    }
    case Column::SpeedColumn:
        ink.text(cell, w.speed, muted, true);
        break;
    case Column::RemainingColumn:
        ink.text(cell, w.remaining, muted, true);
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
    return place(QueueTexts::rowButtons(*t), cell);
}

QList<TransferRowDelegate::PlacedButton>
TransferRowDelegate::place(const QList<QueueTexts::RowButton> &all, const QRect &cell)
{
    QList<PlacedButton> placed;
    for (qsizetype i = 0; i < all.size(); ++i)
        placed.append({buttonRect(cell, all.size(), i), all[i]});
    return placed;
}

QRect TransferRowDelegate::buttonRect(const QRect &cell, qsizetype count, qsizetype i)
{
    // Right-aligned, 2 apart, the last one 3 from the cell's edge.
    const int right = cell.right() - 3 - int(count - 1 - i) * (buttonSide + 2);
    return QRect(right - buttonSide + 1, cell.center().y() - buttonSide / 2 + 1, buttonSide,
                 buttonSide);
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
            // Spread over whatever it fills, so one brush serves every bar.
            static const QBrush fill = [] {
                QLinearGradient g(0, 0, 1, 0);
                g.setCoordinateMode(QGradient::ObjectMode);
                g.setColorAt(0, QueueTexts::cyan());
                g.setColorAt(1, Palette::teal());
                return QBrush(g);
            }();
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
    const WorkerLook *w = model->workerLook(index);
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
        paintWorkerCell(ink, cell, index.column(), *w, model->worker(index)->isUpload);
    else
        paintTransferCell(ink, cell, index.column(), *model->transferLook(index), t->state);
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
