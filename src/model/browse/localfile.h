#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace Tarnwick {

// One entry of the local pane. `url` is the entry's absolute path.
struct LocalFile
{
    QString url;
    bool isFolder = false;
    qint64 size = 0; // 0 for folders
    std::optional<QDateTime> modified;

    bool operator==(const LocalFile &) const = default;

    // The last path component of url.
    QString name() const;
    // modified, or the distant past when the file system did not report one.
    QDateTime modifiedSort() const;
    // The list identity: the path string.
    const QString &id() const { return url; }

    // The earliest representable point in time; sorts before every real date.
    static QDateTime distantPast();
};

} // namespace Tarnwick
