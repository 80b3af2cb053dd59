#include "panes/emptystateview.h"

#include "common/icons.h"
#include "common/palette.h"
#include "common/wrappinglabel.h"


#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

EmptyStateView::EmptyStateView(QWidget *parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_title(new QLabel(this))
    , m_text(new WrappingLabel(this))
    , m_button(new QPushButton(this))
    , m_caption(new QLabel(this))
{
    m_symbol->setAlignment(Qt::AlignCenter);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setProperty("role", u"emptyTitle"_s);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setProperty("role", u"muted"_s);
    m_caption->setAlignment(Qt::AlignCenter);
    m_caption->setProperty("role", u"muted"_s);
    m_button->setProperty("primary", true);
    m_button->setCursor(Qt::PointingHandCursor);
    m_button->hide();
    m_caption->hide();
    connect(m_button, &QPushButton::clicked, this, &EmptyStateView::buttonClicked);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(m_symbol);
    layout->addSpacing(6);
    layout->addWidget(m_title);
    layout->addWidget(m_text);
    layout->addSpacing(10);
    layout->addWidget(m_button, 0, Qt::AlignHCenter);
    layout->addWidget(m_caption);
    layout->addStretch(1);
}

void EmptyStateView::setSymbol(const QString &name)
{
    m_symbol->setPixmap(
        Icons::symbol(name, Palette::teal()).pixmap(QSize(46, 46), devicePixelRatioF()));
}

void EmptyStateView::setTitle(const QString &title)
{
    m_title->setTextFormat(Qt::PlainText);
    m_title->setText(title);
}

void EmptyStateView::setText(const QString &text)
{
    // The application's own texts: a caller showing text from outside escapes it first. Error
    // texts from the network can be of any length: they wrap and never widen the pane.
    m_text->setFullText(text);
}

QLabel *EmptyStateView::textLabel() const
{
    return m_text;
}

void EmptyStateView::setButtonText(const QString &text)
{
    m_button->setText(text);
    m_button->setVisible(!text.isEmpty());
}

void EmptyStateView::setCaption(const QString &caption)
{
    m_caption->setText(caption);
    m_caption->setVisible(!caption.isEmpty());
}

} // namespace Tarnwick
