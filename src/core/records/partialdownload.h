#pragma once

#include <QString>

#include <optional>

namespace Tarnwick {
struct DriveFile;
}

// The stamp a download's part file carries, so that an interrupted download resumes only into
// bytes of the same remote version. The stamp is kept in the extended attribute
// "user.com.tarnwick.source"; on file systems without user attributes nothing is kept and every
// download starts over.
namespace Tarnwick::PartialDownload {

inline constexpr char attributeName[] = "user.com.tarnwick.source";

// id + "|" + modifiedTime (empty when missing) + "|" + bytes, e.g. "abc|2024-05-01T08:30:15Z|42".
QString stamp(const DriveFile &file);

// Writes stamp onto the part file; a failure is ignored (the next resume starts over).
void mark(const QString &part, const QString &stamp);
void mark(int descriptor, const QString &stamp);

// The stamp on the part file, missing when there is none or it cannot be read.
std::optional<QString> readStamp(const QString &part);

// How many bytes of the part file can be kept for a download of total bytes with this stamp.
// Anything in doubt (unreadable, empty, longer than total, another stamp, not a regular file)
// deletes the part file and gives 0.
qint64 resumableOffset(const QString &part, const QString &stamp, qint64 total);

} // namespace Tarnwick::PartialDownload
