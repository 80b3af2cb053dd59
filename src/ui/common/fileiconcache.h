#pragma once

#include <QCache>
#include <QMimeDatabase>
#include <QPixmap>
#include <QString>

namespace Tarnwick {

// File-type icons of the local pane, 22 × 22, kept in memory by key: one entry per lower-case
// extension (all files of one extension share an icon) and one for folders, at most 120.
// Main thread only.
class FileIconCache final
{
public:
    static FileIconCache &shared();

    // The icon of an entry; the first extension-less file seen decides the icon of them all.
    QPixmap icon(const QString &path, bool isDirectory);

    // The cache key of an entry.
    static QString key(const QString &path, bool isDirectory);
    bool contains(const QString &key) const { return m_cache.contains(key); }
    int count() const { return int(m_cache.count()); }
    void clear() { m_cache.clear(); }

    static constexpr int side = 22;
    static constexpr int limit = 120;

private:
    FileIconCache();
    QIcon systemIcon(const QString &path, bool isDirectory, const QString &extension) const;

    QCache<QString, QPixmap> m_cache;
    QMimeDatabase m_mimes;
};

} // namespace Tarnwick
