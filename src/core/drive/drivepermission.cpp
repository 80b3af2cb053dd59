#include "drive/drivepermission.h"

#include "drive/jsonreader.h"

#include <QHashFunctions>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QJsonObject DrivePermission::toJson() const
{
    QJsonObject object{{"id"_L1, id}, {"role"_L1, role}, {"type"_L1, type}};
    if (displayName)
        object.insert("displayName"_L1, *displayName);
    if (emailAddress)
        object.insert("emailAddress"_L1, *emailAddress);
    if (photoLink)
        object.insert("photoLink"_L1, *photoLink);
    return object;
}

DrivePermission DrivePermission::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "DrivePermission"_L1);
    return DrivePermission{
        reader.requiredString("id"_L1),           reader.optionalString("displayName"_L1),
        reader.optionalString("emailAddress"_L1), reader.requiredString("role"_L1),
        reader.requiredString("type"_L1),         reader.optionalString("photoLink"_L1)};
}

DrivePermission DrivePermission::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parseObject(bytes, "DrivePermission"_L1));
}

size_t qHash(const DrivePermission &p, size_t seed)
{
    seed = qHashMulti(seed, p.id, p.role, p.type);
    for (const auto *field : {&p.displayName, &p.emailAddress, &p.photoLink})
        seed = *field ? qHashMulti(seed, true, **field) : qHashMulti(seed, false);
    return seed;
}

} // namespace Tarnwick
