#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace Tarnwick {

// The identity of the OAuth "Desktop app" client Tarnwick signs in as.
// Stored form: {"clientID": "…", "clientSecret": "…"} with the secret omitted when absent.
struct OAuthConfiguration
{
    QString clientID; // ends in ".apps.googleusercontent.com" for a valid desktop client
    std::optional<QString> clientSecret;

    bool operator==(const OAuthConfiguration &) const = default;

    // Reads the client JSON Google Cloud hands out for a desktop client (its "installed" member).
    // Throws DecodingError for JSON that does not fit, and TarnwickError for another kind of
    // client or a client ID without the Google suffix.
    static OAuthConfiguration fromGoogleJSON(const QByteArray &data);

    // The configuration shipped with the application when there is one (its failure is thrown,
    // without falling back), otherwise the developer's.
    static std::optional<OAuthConfiguration>
    resolve(const std::optional<QByteArray> &bundledJSON,
            const std::optional<OAuthConfiguration> &development);

    // Whether tokens stored with clientID belong to this client. Tokens stored before the client
    // ID was recorded with them belong to it only when the developer configuration names it.
    bool acceptsSession(const std::optional<QString> &clientID,
                        const std::optional<OAuthConfiguration> &legacyConfiguration) const;

    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;
    // Throw DecodingError when clientID is missing or a member has the wrong type.
    static OAuthConfiguration fromJson(const QJsonObject &object);
    static OAuthConfiguration fromJsonBytes(const QByteArray &bytes);
};

} // namespace Tarnwick
