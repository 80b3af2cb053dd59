#include "panes/searchfield.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QAction>
#include <QKeyEvent>

using namespace Qt::StringLiterals;

namespace Tarnwick {

SearchField::SearchField(QWidget *parent)
    : QLineEdit(parent)
{
    setPlaceholderText(u"Tìm trong thư mục này"_s);
    addAction(Icons::symbol(u"magnifyingglass"_s, Palette::muted()), LeadingPosition);
    m_clear = addAction(Icons::symbol(u"xmark.circle.fill"_s, Palette::muted()), TrailingPosition);
    m_clear->setVisible(false);
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString &text) { m_clear->setVisible(!text.isEmpty()); });
    connect(m_clear, &QAction::triggered, this, [this] {
        clear();
        setFocus();
    });
}

void SearchField::keyPressEvent(QKeyEvent *event)
{
    // Escape empties the search; on an empty field it goes on to whatever else closes.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier &&
        !text().isEmpty()) {
        clear();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace Tarnwick
