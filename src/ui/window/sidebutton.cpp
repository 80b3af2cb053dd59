#include "window/sidebutton.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QLabel>
#include <QStyle>

using namespace Qt::StringLiterals;

namespace Tarnwick {

SideButton::SideButton(const QString &symbol, const QString &title, QWidget *parent)
    : QPushButton(title, parent)
    , m_symbol(symbol)
    , m_badge(new QLabel(this))
{
    setProperty("side", true);
    setCursor(Qt::PointingHandCursor);
    setIconSize(QSize(17, 17));
    m_badge->setAlignment(Qt::AlignCenter);
    m_badge->setStyleSheet(u"background: %1; color: %2; border-radius: 8px; font-size: 10px;"
                           " font-weight: 700; padding: 0 5px;"_s.arg(
                               Palette::teal().name(), Palette::background().name()));
    m_badge->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_badge->hide();
    updateIcon();
}

void SideButton::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    setProperty("active", active);
    style()->unpolish(this);
    style()->polish(this);
    updateIcon();
}

void SideButton::setBadge(int count)
{
    m_badge->setText(QString::number(count));
    m_badge->setVisible(count > 0);
    m_badge->adjustSize();
    m_badge->setFixedHeight(16);
    resizeEvent(nullptr);
}

void SideButton::resizeEvent(QResizeEvent *event)
{
    if (event)
        QPushButton::resizeEvent(event);
    const QSize size(qMax(16, m_badge->sizeHint().width()), 16);
    m_badge->setGeometry(width() - size.width() - 8, (height() - size.height()) / 2, size.width(),
                         size.height());
}

void SideButton::updateIcon()
{
    setIcon(Icons::symbol(m_symbol, m_active ? Palette::teal() : Palette::muted()));
}

} // namespace Tarnwick
