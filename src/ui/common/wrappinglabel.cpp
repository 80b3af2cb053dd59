#include "common/wrappinglabel.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>

namespace Tarnwick {

namespace {
// The width a label asks for; it takes less, never more, when its container is narrower.
constexpr int preferredWidth = 320;
} // namespace

WrappingLabel::WrappingLabel(QWidget *parent, int maxLines)
    : QLabel(parent)
    , m_maxLines(qMax(1, maxLines))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void WrappingLabel::setFullText(const QString &text)
{
    QLabel::setText(text);
    updateGeometry();
    updateToolTip();
    update();
}

QStringList WrappingLabel::linesFor(int width, bool *elided) const
{
    if (elided)
        *elided = false;
    QString source = text();
    source.replace(QLatin1Char('\n'), QChar::LineSeparator);
    if (source.isEmpty() || width <= 0)
        return {};
    QTextLayout layout(source, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList lines;
    int lastStart = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == m_maxLines) {
            // More text than lines: the last line takes the rest, elided.
            if (elided)
                *elided = true;
            break;
        }
        lastStart = line.textStart();
        lines.append(source.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    if (elided && *elided) {
        QString rest = source.mid(lastStart);
        rest.replace(QChar::LineSeparator, QLatin1Char(' '));
        lines.last() = fontMetrics().elidedText(rest, Qt::ElideRight, width);
    }
    for (QString &line : lines) {
        while (!line.isEmpty() && (line.back() == QChar::LineSeparator || line.back().isSpace()))
            line.chop(1);
    }
    return lines;
}

int WrappingLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const int lines = int(linesFor(width - margins.left() - margins.right()).size());
    return lines * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
}

QSize WrappingLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    int natural = 0;
    for (const QString &line : text().split(QLatin1Char('\n')))
        natural = qMax(natural, fontMetrics().horizontalAdvance(line));
    const int width = qMin(natural + 1, preferredWidth) + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {qMin(sizeHint().width(), 40 + margins.left() + margins.right()),
            text().isEmpty() ? 0 : fontMetrics().lineSpacing()};
}

void WrappingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    painter.setFont(font());
    const QRect area = contentsRect();
    const QStringList lines = linesFor(area.width());
    const QFontMetrics metrics = fontMetrics();
    const int spacing = metrics.lineSpacing();
    int y = area.top();
    if (alignment() & Qt::AlignVCenter)
        y += qMax(0, (area.height() - int(lines.size()) * spacing) / 2);
    for (const QString &line : lines) {
        const QRect row(area.left(), y, area.width(), spacing);
        painter.drawText(row, int(alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter,
                         line);
        y += spacing;
    }
}

void WrappingLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    updateToolTip();
}

void WrappingLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateGeometry();
        updateToolTip();
    }
}

void WrappingLabel::updateToolTip()
{
    bool elided = false;
    linesFor(contentsRect().width(), &elided);
    // The whole text as characters, never as markup.
    setToolTip(elided ? Qt::convertFromPlainText(text()) : QString());
}

} // namespace Tarnwick
