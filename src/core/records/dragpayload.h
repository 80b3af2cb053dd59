#pragma once

#include "records/downloaddropitem.h"
#include "drive/drivefile.h"

#include <QList>
#include <QStringList>

class QMimeData;

// What travels in a drag between the panes. A Drive item goes as its JSON under two formats,
// the program's own "com.tarnwick.drive-file" (preferred on reading) and "application/json";
// a local file goes as its file URL, exactly as a file manager offers it.
//
// Unlike a per-item pasteboard, a Qt drag carries one QMimeData for every dragged row: one Drive
// item is written as its JSON object, several as a JSON array of those objects, and both forms
// are read back.
namespace Tarnwick::DragPayload {

inline constexpr auto driveFileMimeType = QLatin1StringView("com.tarnwick.drive-file");
inline constexpr auto jsonMimeType = QLatin1StringView("application/json");

void setDriveFiles(QMimeData &data, const QList<DriveFile> &files);
void setLocalFiles(QMimeData &data, const QStringList &paths);

// The Drive items of a drag, from the first of the two formats that decodes; empty when the
// drag carries none.
QList<DriveFile> driveFiles(const QMimeData &data);

// A drop on the local pane as download items, by preference: Drive items, else each URL, else
// the plain text. Empty when the drop offers none of these.
QList<DownloadDropItem> downloadDropItems(const QMimeData &data);

} // namespace Tarnwick::DragPayload
