#pragma once

#include <QPushButton>

class QLabel;

namespace Tarnwick {

// A sidebar entry: symbol and title, highlighted while active, with an optional count badge.
class SideButton final : public QPushButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SideButton)

public:
    SideButton(const QString &symbol, const QString &title, QWidget *parent = nullptr);

    void setActive(bool active);
    bool isActive() const { return m_active; }
    // Zero hides the badge.
    void setBadge(int count);
    QLabel *badge() const { return m_badge; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateIcon();

    QString m_symbol;
    bool m_active = false;
    QLabel *m_badge;
};

} // namespace Tarnwick
