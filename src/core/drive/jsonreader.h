#pragma once

#include "drive/decodingerror.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace Tarnwick {

// Reads the members of one JSON object into a record, throwing DecodingError for a missing
// required key or a value of the wrong type. A null value counts as absent for optional
// members; members the record does not know are ignored.
class JsonReader final
{
public:
    JsonReader(const QJsonObject &object, QLatin1StringView record)
        : m_object(object)
        , m_record(record)
    {
    }

    // Parses bytes whose top level must be an object.
    static QJsonObject parseObject(const QByteArray &bytes, QLatin1StringView record);
    // Throws unless value is an object.
    static QJsonObject asObject(const QJsonValue &value, QLatin1StringView record);

    QString requiredString(QLatin1StringView key) const;
    std::optional<QString> optionalString(QLatin1StringView key) const;
    bool requiredBool(QLatin1StringView key) const;
    std::optional<bool> optionalBool(QLatin1StringView key) const;
    // An integral JSON number that fits 64 bits; 3.5 or 1e30 are rejected.
    qint64 requiredInt64(QLatin1StringView key) const;
    // Missing when absent or null.
    std::optional<QJsonValue> optionalValue(QLatin1StringView key) const;
    QJsonValue requiredValue(QLatin1StringView key) const;

    DecodingError wrongType(QLatin1StringView key, QLatin1StringView expected) const
    {
        return DecodingError::wrongType(m_record, key, expected);
    }

private:
    QJsonObject m_object;
    QLatin1StringView m_record;
};

} // namespace Tarnwick
