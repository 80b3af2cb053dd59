#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace Tarnwick {

// The signed-in account as Drive's about resource describes it (DriveClient::Account).
struct DriveAccount
{
    struct User
    {
        std::optional<QString> displayName;
        std::optional<QString> emailAddress;

        bool operator==(const User &) const = default;
    };

    // Decimal byte counts as Drive sends them; either may be missing (no limit: unlimited).
    struct Quota
    {
        std::optional<QString> limit;
        std::optional<QString> usage;

        bool operator==(const Quota &) const = default;
    };

    User user;
    std::optional<Quota> storageQuota;

    bool operator==(const DriveAccount &) const = default;

    // Throws DecodingError when "user" is missing or a member has the wrong type.
    static DriveAccount fromJson(const QJsonObject &object);
    static DriveAccount fromJsonBytes(const QByteArray &bytes);
};

} // namespace Tarnwick
