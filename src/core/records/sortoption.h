#pragma once

#include "records/twohalves.h"

#include <QCollator>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <algorithm>
#include <numeric>
#include <optional>

namespace Tarnwick {

// The file-name comparison of both panes: locale-aware, case-insensitive, digit runs by value
// (file2 before file10). Not thread-safe: one instance per thread.
class NameCollator
{
public:
    NameCollator();
    int compare(const QString &a, const QString &b) const { return m_collator.compare(a, b); }
    QCollatorSortKey sortKey(const QString &s) const { return m_collator.sortKey(s); }
    // A shared instance for the calling thread.
    static const NameCollator &forThisThread();

private:
    QCollator m_collator;
};

// How a pane is ordered, and the one comparison routine both panes use.
struct SortOption
{
    enum class Key { Name, Modified, Size, Kind };

    Key key = Key::Name;
    bool ascending = true;
    bool foldersFirst = true;

    bool operator==(const SortOption &) const = default;

    static QList<Key> allKeys();
    static QString rawValue(Key key);
    static std::optional<Key> keyFromRawValue(const QString &raw);
    static QString title(Key key);

    QString title() const { return title(key); }
    QString directionLabel(bool ascending) const;
    // Lower-cased extension of name's last path component; empty for folders.
    static QString kind(const QString &name, bool isFolder);

    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;
    // Missing when a key is absent or of the wrong type, or the key's raw value is unknown.
    static std::optional<SortOption> fromJson(const QJsonObject &object);
    static std::optional<SortOption> fromJsonBytes(const QByteArray &bytes);

    // A new list ordered by this option; stable. The accessors give an element's display name,
    // folder flag, modification time and byte size.
    template<class T, class NameFn, class FolderFn, class ModifiedFn, class SizeFn>
    QList<T> sorted(const QList<T> &items, NameFn name, FolderFn isFolder, ModifiedFn modified,
                    SizeFn size) const;

    // The same in two steps, for a caller that makes its items on several threads: a row for
    // each item, made on any thread, then the order of the rows' indexes.
    struct Row
    {
        QCollatorSortKey name;
        std::optional<QCollatorSortKey> kind; // only when sorting by kind: a key costs a collation
        qint64 modified;
        qint64 size;
        bool folder;
    };
    Row row(const QString &name, bool folder, const QDateTime &modified, qint64 size) const;
    QList<qsizetype> order(const QList<Row> &rows) const;

private:
    static constexpr qsizetype parallelFrom = 5000;
};

template<class T, class NameFn, class FolderFn, class ModifiedFn, class SizeFn>
QList<T> SortOption::sorted(const QList<T> &items, NameFn name, FolderFn isFolder,
                            ModifiedFn modified, SizeFn size) const
{
    const auto build = [&](qsizetype from, qsizetype to) {
        QList<Row> rows;
        rows.reserve(to - from);
        for (qsizetype i = from; i < to; ++i) {
            const T &item = items.at(i);
            rows.append(row(name(item), isFolder(item), modified(item), qint64(size(item))));
        }
        return rows;
    };
    // A collation key is the costly part: a big folder's keys are made on two threads.
    const QList<Row> rows = inTwoHalves(items.size(), parallelFrom, build);
    QList<T> result;
    result.reserve(items.size());
    for (qsizetype i : order(rows))
        result.append(items.at(i));
    return result;
}

} // namespace Tarnwick
