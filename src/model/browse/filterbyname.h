#pragma once

#include <QList>
#include <QString>

namespace Tarnwick {

// The items whose name (name(item)) contains search, ignoring case, in their order; all of them
// when search is empty. Safe to run on any thread.
template<typename T, typename Name>
QList<T> filterByName(const QList<T> &items, const QString &search, Name name)
{
    if (search.isEmpty())
        return items;
    // Names written on another system may be decomposed; compare canonical forms.
    const QString needle = search.normalized(QString::NormalizationForm_C);
    QList<T> kept;
    for (const T &item : items) {
        if (name(item)
                .normalized(QString::NormalizationForm_C)
                .contains(needle, Qt::CaseInsensitive))
            kept.append(item);
    }
    return kept;
}

} // namespace Tarnwick
