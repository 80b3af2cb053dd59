#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace Tarnwick {

// One collaborator of a Drive item, as the permissions API describes it.
struct DrivePermission
{
    QString id;
    std::optional<QString> displayName;
    std::optional<QString> emailAddress;
    QString role; // "owner", "writer", "commenter", "reader"…
    QString type; // "user", "group", "domain", "anyone"
    std::optional<QString> photoLink;

    bool operator==(const DrivePermission &) const = default;

    QJsonObject toJson() const;
    // Throw DecodingError when id, role or type is missing or a member has the wrong type.
    static DrivePermission fromJson(const QJsonObject &object);
    static DrivePermission fromJsonBytes(const QByteArray &bytes);
};

size_t qHash(const DrivePermission &permission, size_t seed = 0);

} // namespace Tarnwick
