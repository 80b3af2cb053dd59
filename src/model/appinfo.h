#pragma once

#include <QString>

namespace Tarnwick::AppInfo {

// The running version as the build names it ("0.2.0" for a build that names none).
QString version();

} // namespace Tarnwick::AppInfo
