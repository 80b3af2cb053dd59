#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Tarnwick::UploadUtilities {

// The Drive item ID in a pasted link (…/folders/ID, …/file/d/ID/view, …/d/ID, …?id=ID) or a
// bare ID of 25 to 60 characters; missing when none is recognised.
std::optional<QString> parseDriveID(const QString &text);

// The trimmed name for a new Drive folder or a rename. Throws TarnwickError when it is empty,
// "." or "..", or contains "/" or NUL.
QString validateName(const QString &name);

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
QString partialURL(const QString &destination);

// The number of bytes Google holds from the Range header ("bytes=0-N") of a resumable-upload
// status answer; 0 when there is none. Throws TarnwickError unless 0 <= N < total.
qint64 confirmedOffset(const std::optional<QString> &range, qint64 total);

// Absolute paths of folder's regular files and directories, hidden entries and symbolic links
// left out, sorted by name as the panes sort. Throws SystemError when the folder or an entry
// cannot be read. Blocks on the disk: keep it off the main thread.
QStringList children(const QString &folder);

} // namespace Tarnwick::UploadUtilities
