#pragma once

#include <QWidget>

namespace Tarnwick {

// The strip above the queue panel that resizes it: a grip in the middle, the up-down cursor
// while hovered, and the vertical distance of a drag from where it began.
class QueueResizeHandle final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QueueResizeHandle)

public:
    explicit QueueResizeHandle(QWidget *parent = nullptr);

    bool isHovered() const { return m_hovered; }

signals:
    // A drag moved by at least one point: the first report starts it.
    void dragged(double translation);
    void dragEnded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_hovered = false;
    bool m_pressed = false;
    bool m_moving = false;
    double m_pressY = 0;
};

} // namespace Tarnwick
