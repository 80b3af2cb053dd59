#include "panes/panehead.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QHBoxLayout>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace Tarnwick {

PaneHead::PaneHead(const QString &symbol, const QString &title, QWidget *parent)
    : QWidget(parent)
    , m_title(new QLabel(title, this))
    , m_controls(new QHBoxLayout)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto *icon = new QLabel(this);
    icon->setPixmap(
        Icons::symbol(symbol, Palette::teal()).pixmap(QSize(18, 18), devicePixelRatioF()));
    layout->addWidget(icon);
    m_title->setProperty("role", u"title"_s);
    layout->addWidget(m_title);
    layout->addStretch(1);
    m_controls->setSpacing(6);
    layout->addLayout(m_controls);
}

} // namespace Tarnwick
