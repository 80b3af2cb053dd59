#include "window/windowstatusbar.h"

#include "common/palette.h"

#include "records/displaytext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Tarnwick {

WindowStatusBar::WindowStatusBar(QWidget *parent)
    : QWidget(parent)
    , m_dot(new QLabel(this))
    , m_text(new QLabel(this))
    , m_quota(new QLabel(this))
    , m_queue(new QPushButton(u"Hiện hàng đợi"_s, this))
{
    setObjectName(u"statusRow"_s);
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 5, 14, 5);
    layout->setSpacing(8);
    m_dot->setFixedSize(5, 5);
    // Messages may quote names and a server's own words: plain text, never markup.
    m_text->setTextFormat(Qt::PlainText);
    layout->addWidget(m_dot);
    layout->addWidget(m_text);
    layout->addStretch(1);
    m_quota->setProperty("role", u"muted"_s);
    m_quota->hide();
    layout->addWidget(m_quota);
    m_queue->setProperty("link", true);
    m_queue->setCursor(Qt::PointingHandCursor);
    layout->addWidget(m_queue);
    connect(m_queue, &QPushButton::clicked, this, &WindowStatusBar::showQueueClicked);
    setActive(false);
    setText(u"Sẵn sàng"_s);
}

void WindowStatusBar::setActive(bool active)
{
    // Style sheets are costly to apply, and transfers report many times a second.
    if (m_dot->property("active").isValid() && m_dot->property("active").toBool() == active)
        return;
    m_dot->setProperty("active", active);
    m_dot->setStyleSheet(u"background: %1; border-radius: 2px;"_s.arg(
        (active ? Palette::teal() : Palette::muted()).name()));
}

void WindowStatusBar::setText(const QString &text, const QColor &color)
{
    const QString shown = DisplayText::message(text);
    if (m_text->text() != shown)
        m_text->setText(shown);
    if (m_text->property("tint").isValid() && m_text->property("tint").value<QColor>() == color)
        return;
    m_text->setProperty("tint", color);
    m_text->setStyleSheet(color.isValid() ? u"color: %1;"_s.arg(color.name())
                                          : u"color: %1;"_s.arg(Palette::muted().name()));
}

void WindowStatusBar::setQuotaText(const QString &text)
{
    m_quota->setText(text);
    m_quota->setVisible(!text.isEmpty());
}

void WindowStatusBar::setQueueButtonVisible(bool visible)
{
    m_queue->setVisible(visible);
}

} // namespace Tarnwick
