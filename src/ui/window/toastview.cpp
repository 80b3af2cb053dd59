#include "window/toastview.h"

#include "common/icons.h"
#include "common/palette.h"

#include "records/displaytext.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>

using namespace Qt::StringLiterals;

namespace Tarnwick {

ToastView::ToastView(QWidget *parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_text(new QLabel(this))
    , m_slide(new QPropertyAnimation(this, "pos", this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 9, 18, 9);
    layout->setSpacing(9);
    m_icon->setPixmap(Icons::symbol(u"checkmark.circle.fill"_s, Palette::teal())
                          .pixmap(QSize(18, 18), devicePixelRatioF()));
    layout->addWidget(m_icon);
    layout->addWidget(m_text);
    m_text->setStyleSheet(u"font-weight: 600;"_s);
    // A toast may quote a name: plain text, never markup.
    m_text->setTextFormat(Qt::PlainText);
    // A short spring: overshoot a little, then settle.
    m_slide->setDuration(420);
    m_slide->setEasingCurve(QEasingCurve::OutBack);
    parent->installEventFilter(this);
    hide();
}

void ToastView::showMessage(const QString &text)
{
    m_text->setText(DisplayText::message(text));
    adjustSize();
    const QPoint rest = restingPosition();
    m_slide->stop();
    m_slide->setStartValue(rest + QPoint(0, 40));
    m_slide->setEndValue(rest);
    move(rest + QPoint(0, 40));
    show();
    raise();
    m_slide->start();
}

void ToastView::dismiss()
{
    m_slide->stop();
    hide();
}

QString ToastView::text() const
{
    return m_text->text();
}

QPoint ToastView::restingPosition() const
{
    const QWidget *p = parentWidget();
    return QPoint((p->width() - width()) / 2, p->height() - height() - 48);
}

void ToastView::reposition()
{
    if (m_slide->state() == QAbstractAnimation::Running)
        m_slide->setEndValue(restingPosition());
    else
        move(restingPosition());
}

bool ToastView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        reposition();
    return QWidget::eventFilter(watched, event);
}

void ToastView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Palette::line(), 1));
    painter.setBrush(Palette::sidebar().lighter(135));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0,
                            height() / 2.0);
}

} // namespace Tarnwick
