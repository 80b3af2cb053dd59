#pragma once

#include <QString>

#include <optional>

namespace Tarnwick::DiskSpaceUtilities {

// "done / total" with formatByteCount; just "done" when the total is unknown (below 1);
// "—" when neither is known.
QString formatTransferSize(qint64 done, qint64 total);

// Bytes available to this user on the volume holding path (the home directory when path is
// missing); missing when the volume cannot be queried. Reserved blocks are not counted.
// Touches the file system: keep it off the main thread where the volume may be slow.
std::optional<qint64> localFreeSpace(const std::optional<QString> &path);

// Whether path lies on a removable or mounted volume: under "/media/", "/run/media/" or "/mnt/"
// (the mount point itself included). Judged by the text alone, after resolving "." and "..".
bool isExternalVolume(const QString &path);

} // namespace Tarnwick::DiskSpaceUtilities
