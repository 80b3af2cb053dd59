#include "drive/driveaccount.h"

#include "drive/jsonreader.h"

using namespace Qt::StringLiterals;

namespace Tarnwick {

DriveAccount DriveAccount::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "Account"_L1);
    const JsonReader user(JsonReader::asObject(reader.requiredValue("user"_L1), "Account.User"_L1),
                          "Account.User"_L1);
    DriveAccount account;
    account.user =
        User{user.optionalString("displayName"_L1), user.optionalString("emailAddress"_L1)};
    if (const auto quota = reader.optionalValue("storageQuota"_L1)) {
        const JsonReader q(JsonReader::asObject(*quota, "Account.Quota"_L1), "Account.Quota"_L1);
        account.storageQuota = Quota{q.optionalString("limit"_L1), q.optionalString("usage"_L1)};
    }
    return account;
}

DriveAccount DriveAccount::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parseObject(bytes, "Account"_L1));
}

} // namespace Tarnwick
