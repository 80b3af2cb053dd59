#pragma once

#include <QString>

namespace Tarnwick::DriveNames {

// The trimmed name for a new Drive folder or a rename. Throws TarnwickError when it is empty,
// "." or "..", or contains "/" or NUL.
QString validateName(const QString &name);

} // namespace Tarnwick::DriveNames
