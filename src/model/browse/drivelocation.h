#pragma once

#include <QList>
#include <QString>

#include <optional>

namespace Tarnwick {

// The three areas of Google Drive the Drive pane can show. The raw value is also the title the
// user reads.
enum class DriveLocation {
    MyDrive, // the children of "root"
    Shared,  // the items shared with the user
    Team,    // the shared drives the user belongs to
};

namespace DriveLocations {

// Every area, in the order the window offers them.
QList<DriveLocation> all();
QString rawValue(DriveLocation location);
// The symbol the window shows beside the area's title.
QString symbolName(DriveLocation location);
std::optional<DriveLocation> fromRawValue(const QString &raw);

} // namespace DriveLocations
} // namespace Tarnwick
