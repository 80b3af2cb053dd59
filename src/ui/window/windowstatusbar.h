#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace Tarnwick {

// The line at the bottom of the window: an activity dot, the activity text, the Drive quota and
// the button that shows the queue while it is hidden.
class WindowStatusBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowStatusBar)

public:
    explicit WindowStatusBar(QWidget *parent = nullptr);

    // The dot is teal while transfers run or wait.
    void setActive(bool active);
    void setText(const QString &text, const QColor &color = QColor());
    // An empty text hides the quota.
    void setQuotaText(const QString &text);
    void setQueueButtonVisible(bool visible);

    QLabel *textLabel() const { return m_text; }
    QLabel *quotaLabel() const { return m_quota; }
    QPushButton *queueButton() const { return m_queue; }

signals:
    void showQueueClicked();

private:
    QLabel *m_dot;
    QLabel *m_text;
    QLabel *m_quota;
    QPushButton *m_queue;
};

} // namespace Tarnwick
