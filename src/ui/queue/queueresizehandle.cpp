#include "queue/queueresizehandle.h"

#include "common/palette.h"

#include <QMouseEvent>
#include <QPainter>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QueueResizeHandle::QueueResizeHandle(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"queueResizeHandle"_s);
    setFixedHeight(7);
    setCursor(Qt::SizeVerCursor);
    setToolTip(u"Kéo lên hoặc xuống để đổi chiều cao hàng đợi"_s);
}

void QueueResizeHandle::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor grip = m_hovered || m_pressed ? Palette::teal() : Palette::muted();
    grip.setAlphaF(m_hovered || m_pressed ? 0.9f : 0.45f);
    painter.setBrush(grip);
    const QRectF rect((width() - 38) / 2.0, (height() - 3) / 2.0, 38, 3);
    painter.drawRoundedRect(rect, 1.5, 1.5);
}

void QueueResizeHandle::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void QueueResizeHandle::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}

void QueueResizeHandle::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // Screen coordinates: the handle itself moves as the panel grows.
    m_pressed = true;
    m_moving = false;
    m_pressY = event->globalPosition().y();
    event->accept();
}

void QueueResizeHandle::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_pressed)
        return QWidget::mouseMoveEvent(event);
    const double translation = event->globalPosition().y() - m_pressY;
    if (!m_moving && std::abs(translation) < 1)
        return;
    m_moving = true;
    emit dragged(translation);
}

void QueueResizeHandle::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressed)
        return QWidget::mouseReleaseEvent(event);
    m_pressed = false;
    if (m_moving)
        emit dragEnded();
    m_moving = false;
    update();
}

} // namespace Tarnwick
