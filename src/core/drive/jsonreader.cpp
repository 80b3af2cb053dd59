#include "drive/jsonreader.h"

#include <QJsonDocument>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick {

QJsonObject JsonReader::parseObject(const QByteArray &bytes, QLatin1StringView record)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError::malformed(record, error.errorString());
    if (!document.isObject())
        throw DecodingError::malformed(record, u"the top level is not an object"_s);
    return document.object();
}

QJsonObject JsonReader::asObject(const QJsonValue &value, QLatin1StringView record)
{
    if (!value.isObject())
        throw DecodingError::malformed(record, u"not an object"_s);
    return value.toObject();
}

std::optional<QJsonValue> JsonReader::optionalValue(QLatin1StringView key) const
{
    const QJsonValue value = m_object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    return value;
}

QJsonValue JsonReader::requiredValue(QLatin1StringView key) const
{
    const auto value = optionalValue(key);
    if (!value)
        throw DecodingError::missingKey(m_record, key);
    return *value;
}

QString JsonReader::requiredString(QLatin1StringView key) const
{
    const QJsonValue value = requiredValue(key);
    if (!value.isString())
        throw wrongType(key, "a string"_L1);
    return value.toString();
}

std::optional<QString> JsonReader::optionalString(QLatin1StringView key) const
{
    const auto value = optionalValue(key);
    if (!value)
        return std::nullopt;
    if (!value->isString())
        throw wrongType(key, "a string"_L1);
    return value->toString();
}

bool JsonReader::requiredBool(QLatin1StringView key) const
{
    const QJsonValue value = requiredValue(key);
    if (!value.isBool())
        throw wrongType(key, "a boolean"_L1);
    return value.toBool();
}

std::optional<bool> JsonReader::optionalBool(QLatin1StringView key) const
{
    const auto value = optionalValue(key);
    if (!value)
        return std::nullopt;
    if (!value->isBool())
        throw wrongType(key, "a boolean"_L1);
    return value->toBool();
}

qint64 JsonReader::requiredInt64(QLatin1StringView key) const
{
    const QJsonValue value = requiredValue(key);
    if (!value.isDouble())
        throw wrongType(key, "a number"_L1);
    // Integers that fit are kept exact by the parser; toInteger refuses fractions and overflow.
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 integer = value.toInteger(sentinel);
    if (integer == sentinel && value.toDouble() != double(sentinel))
        throw wrongType(key, "a 64-bit integer"_L1);
    return integer;
}

} // namespace Tarnwick
