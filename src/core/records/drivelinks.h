#pragma once

#include <QString>

#include <optional>

namespace Tarnwick::DriveLinks {

// The Drive item ID in a pasted link (…/folders/ID, …/file/d/ID/view, …/d/ID, …?id=ID) or a
// bare ID of 25 to 60 characters; missing when none is recognised.
std::optional<QString> parseDriveID(const QString &text);

} // namespace Tarnwick::DriveLinks
