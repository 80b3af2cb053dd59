#include "auth/oauthconfiguration.h"

#include "records/errors.h"
#include "drive/jsonreader.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace Tarnwick {

OAuthConfiguration OAuthConfiguration::fromGoogleJSON(const QByteArray &data)
{
    const JsonReader envelope(JsonReader::parseObject(data, "Envelope"_L1), "Envelope"_L1);
    const auto installedValue = envelope.optionalValue("installed"_L1);
    const auto notDesktop = [] {
        return TarnwickError(
            u"Hãy chọn file JSON của OAuth Client loại Desktop app trong Google Cloud."_s);
    };
    if (!installedValue)
        throw notDesktop();
    const JsonReader installed(JsonReader::asObject(*installedValue, "Installed"_L1),
                               "Installed"_L1);
    OAuthConfiguration configuration{installed.requiredString("client_id"_L1),
                                     installed.optionalString("client_secret"_L1)};
    if (!configuration.clientID.endsWith(".apps.googleusercontent.com"_L1, Qt::CaseSensitive))
        throw notDesktop();
    return configuration;
}

std::optional<OAuthConfiguration>
OAuthConfiguration::resolve(const std::optional<QByteArray> &bundledJSON,
                            const std::optional<OAuthConfiguration> &development)
{
    if (bundledJSON)
        return fromGoogleJSON(*bundledJSON);
    return development;
}

bool OAuthConfiguration::acceptsSession(
    const std::optional<QString> &clientID,
    const std::optional<OAuthConfiguration> &legacyConfiguration) const
{
    if (clientID)
        return *clientID == this->clientID;
    return legacyConfiguration && legacyConfiguration->clientID == this->clientID;
}

QJsonObject OAuthConfiguration::toJson() const
{
    QJsonObject object{{"clientID"_L1, clientID}};
    if (clientSecret)
        object.insert("clientSecret"_L1, *clientSecret);
    return object;
}

QByteArray OAuthConfiguration::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

OAuthConfiguration OAuthConfiguration::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "OAuthConfiguration"_L1);
    return {reader.requiredString("clientID"_L1), reader.optionalString("clientSecret"_L1)};
}

OAuthConfiguration OAuthConfiguration::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parseObject(bytes, "OAuthConfiguration"_L1));
}

} // namespace Tarnwick
