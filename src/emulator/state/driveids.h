#pragma once

#include <QString>

namespace Tarnwick::Emulator::DriveIds {

// Identifiers in Drive's alphabet (letters, digits, "-" and "_"), shaped like Google's.
QString newFileId();                      // "1" + 32 characters
QString newDriveId();                     // "0A" + 17 characters, shared drives and My Drive roots
QString newPermissionId();                // 20 digits
QString randomToken(int length);          // any length, Drive alphabet
QString stableFileId(const QString &key); // the same key always gives the same file id
QString stableDriveId(const QString &key);
QString stablePermissionId(const QString &key);

} // namespace Tarnwick::Emulator::DriveIds
