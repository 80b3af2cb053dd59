#include "drivelocation.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::DriveLocations {

QList<DriveLocation> all()
{
    return {DriveLocation::MyDrive, DriveLocation::Shared, DriveLocation::Team};
}

QString rawValue(DriveLocation location)
{
    switch (location) {
    case DriveLocation::MyDrive:
        return u"Drive của tôi"_s;
    case DriveLocation::Shared:
        return u"Được chia sẻ"_s;
    case DriveLocation::Team:
        return u"Bộ nhớ dùng chung"_s;
    }
    Q_UNREACHABLE();
    return {};
}

QString symbolName(DriveLocation location)
{
    switch (location) {
    case DriveLocation::MyDrive:
        return u"externaldrive"_s;
    case DriveLocation::Shared:
        return u"person.2"_s;
    case DriveLocation::Team:
        return u"building.2"_s;
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<DriveLocation> fromRawValue(const QString &raw)
{
    for (const DriveLocation location : all()) {
        if (rawValue(location) == raw)
            return location;
    }
    return std::nullopt;
}

} // namespace Tarnwick::DriveLocations
