#include "browse/drivelocation.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::DriveLocations {

namespace {

struct Area
{
    DriveLocation location;
    QString title;
    QString symbol;
};

// Every area with its title and symbol, in the order the window offers them.
const QList<Area> &areas()
{
    static const QList<Area> list{
        {DriveLocation::MyDrive, u"Drive của tôi"_s, u"externaldrive"_s},
        {DriveLocation::Shared, u"Được chia sẻ"_s, u"person.2"_s},
        {DriveLocation::Team, u"Bộ nhớ dùng chung"_s, u"building.2"_s},
    };
    return list;
}

const Area &area(DriveLocation location)
{
    for (const Area &each : areas()) {
        if (each.location == location)
            return each;
    }
    Q_UNREACHABLE();
    return areas().constFirst();
}

} // namespace

QList<DriveLocation> all()
{
    QList<DriveLocation> locations;
    for (const Area &each : areas())
        locations.append(each.location);
    return locations;
}

QString rawValue(DriveLocation location)
{
    return area(location).title;
}

QString symbolName(DriveLocation location)
{
    return area(location).symbol;
}

std::optional<DriveLocation> fromRawValue(const QString &raw)
{
    for (const Area &each : areas()) {
        if (each.title == raw)
            return each.location;
    }
    return std::nullopt;
}

} // namespace Tarnwick::DriveLocations
