#pragma once

#include <QWidget>

class QLabel;
class QPropertyAnimation;

namespace Tarnwick {

// The short success notice floating over the bottom of the window, with a checkmark. It only
// shows and hides; the window decides when.
class ToastView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToastView)

public:
    explicit ToastView(QWidget *parent);

    void showMessage(const QString &text);
    void dismiss();
    QString text() const;
    // Keeps the toast centred near the bottom of its parent.
    void reposition();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint restingPosition() const;

    QLabel *m_icon;
    QLabel *m_text;
    QPropertyAnimation *m_slide;
};

} // namespace Tarnwick
