#pragma once

#include <QList>
#include <QString>

namespace Tarnwick {

// A name and a search text made comparable: canonical composition, case folded, and, for
// folding, the marks stripped ("Hợp đồng" becomes "hop dong").
class NameSearch final
{
public:
    explicit NameSearch(const QString &search);

    // Whether name contains the search. A search typed without marks also finds names with them
    // ("hop" finds "Hợp đồng"); a search with marks keeps them, so "hộp" does not find "hợp".
    bool matches(const QString &name) const;

    static QString withoutMarks(const QString &text);

private:
    QString m_exact;
    bool m_folds = false;
};

// The items whose name (name(item)) contains search as NameSearch says, in their order; all of
// them when search is empty. Safe to run on any thread.
template<typename T, typename Name>
QList<T> filterByName(const QList<T> &items, const QString &search, Name name)
{
    if (search.isEmpty())
        return items;
    const NameSearch needle(search);
    QList<T> kept;
    for (const T &item : items) {
        if (needle.matches(name(item)))
            kept.append(item);
    }
    return kept;
}

} // namespace Tarnwick
