#include "panes/sortmenubutton.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QWidgetAction>

using namespace Qt::StringLiterals;

namespace Tarnwick {

SortMenuButton::SortMenuButton(QWidget *parent)
    : QToolButton(parent)
    , m_menu(new QMenu(this))
{
    setPopupMode(InstantPopup);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIcon(Icons::symbol(u"line.3.horizontal.decrease"_s, Palette::muted()));
    setMenu(m_menu);
    rebuild();
}

void SortMenuButton::setSortOption(const SortOption &option)
{
    if (m_option == option)
        return;
    m_option = option;
    rebuild();
}

void SortMenuButton::choose(const SortOption &option)
{
    if (option == m_option)
        return;
    m_option = option;
    rebuild();
    emit sortChosen(option);
}

void SortMenuButton::rebuild()
{
    setText(m_option.title());
    setToolTip(u"Sắp xếp: "_s + m_option.title() + u", "_s +
               m_option.directionLabel(m_option.ascending));

    m_menu->clear();
    // Inline picker titles; Fusion draws a menu section as a bare line, so they are labels.
    auto addHeading = [this](const QString &text) {
        auto *label = new QLabel(text, m_menu);
        label->setProperty("role", u"section"_s);
        label->setContentsMargins(12, 4, 12, 2);
        auto *heading = new QWidgetAction(m_menu);
        heading->setDefaultWidget(label);
        heading->setEnabled(false);
        m_menu->addAction(heading);
    };
    auto addChoice = [this](QActionGroup *group, const QString &text, bool checked,
                            SortOption result) {
        QAction *action = m_menu->addAction(text);
        action->setCheckable(true);
        action->setChecked(checked);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, result] { choose(result); });
    };

    addHeading(u"Sắp xếp theo"_s);
    auto *keys = new QActionGroup(m_menu);
    for (SortOption::Key key : SortOption::allKeys()) {
        SortOption next = m_option;
        next.key = key;
        addChoice(keys, SortOption::title(key), m_option.key == key, next);
    }

    m_menu->addSeparator();
    addHeading(u"Chiều sắp xếp"_s);
    auto *directions = new QActionGroup(m_menu);
    for (bool ascending : {true, false}) {
        SortOption next = m_option;
        next.ascending = ascending;
        addChoice(directions, m_option.directionLabel(ascending), m_option.ascending == ascending,
                  next);
    }

    m_menu->addSeparator();
    addHeading(u"Thư mục"_s);
    auto *folders = new QActionGroup(m_menu);
    for (bool first : {true, false}) {
        SortOption next = m_option;
        next.foldersFirst = first;
        addChoice(folders, first ? u"Trên cùng"_s : u"Xếp lẫn với file"_s,
                  m_option.foldersFirst == first, next);
    }
}

} // namespace Tarnwick
