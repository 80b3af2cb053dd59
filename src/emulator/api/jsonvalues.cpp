#include "api/jsonvalues.h"

namespace Tarnwick::Emulator {

std::optional<qint64> jsonInteger(const QJsonValue &value, qint64 fallback)
{
    if (value.isUndefined() || value.isNull())
        return fallback;
    if (value.isDouble())
        return qint64(value.toDouble());
    bool ok = false;
    const qint64 n = value.toString().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return n;
}

QString rfc3339(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace Tarnwick::Emulator
