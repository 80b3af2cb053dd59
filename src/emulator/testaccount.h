#pragma once

#include <QString>

namespace Tarnwick::Emulator {

// What DriveEmulator::addTestAccount sets up in one call: a user, an OAuth desktop client, and
// tokens that are valid now.
struct TestAccount
{
    QString email;
    QString displayName;
    QString clientId;
    QString clientSecret;
    QString accessToken;
    QString refreshToken;
    QString rootFolderId;

    bool operator==(const TestAccount &other) const = default;
};

} // namespace Tarnwick::Emulator
