#pragma once

#include "records/sortoption.h"

#include <QToolButton>

class QMenu;

namespace Tarnwick {

// A pane's sort menu: shows the key's title, and offers three inline pickers (the key, the
// direction labelled for that key, folders on top or mixed in). Choosing reports the whole new
// option; the pane stores it and sets it back.
class SortMenuButton final : public QToolButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SortMenuButton)

public:
    explicit SortMenuButton(QWidget *parent = nullptr);

    void setSortOption(const SortOption &option);
    const SortOption &sortOption() const { return m_option; }
    QMenu *sortMenu() const { return m_menu; }

signals:
    void sortChosen(const Tarnwick::SortOption &option);

private:
    void rebuild();
    void choose(const SortOption &option);

    SortOption m_option;
    QMenu *m_menu;
};

} // namespace Tarnwick
