#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The local side of names and paths: where a download lands, its part file, and the entries of
// a folder an upload reads.
namespace Tarnwick::LocalNames {

// Whether anything (a dangling symbolic link included) stands at path.
bool pathExists(const QString &path);

// A free local path in folder for a download called name: "/" and ":" become "-", NUL is
// dropped, and a name taken in reserved, on disk, or by a leftover part file gets " 2", " 3"…
// before its extension. A name is shortened by whole characters to at most 240 bytes in UTF-8,
// suffix and extension included, so that its part file fits the file-name limit too. The chosen
// name is added to reserved, which the caller keeps across one batch. The result is always
// directly inside folder.
QString availableDestination(const QString &name, const QString &folder, QSet<QString> &reserved,
                             const std::function<bool(const QString &)> &exists = pathExists);

// The hidden part file a download into destination is written to: ".<name>.tarnwick-part" in
// the same folder.
QString partPath(const QString &destination);

// Absolute paths of folder's regular files and directories, hidden entries and symbolic links
// left out, sorted by name as the panes sort. Throws SystemError when the folder or an entry
// cannot be read. Blocks on the disk: keep it off the main thread.
QStringList children(const QString &folder);

} // namespace Tarnwick::LocalNames
