#pragma once

#include <QDateTime>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace Tarnwick::Emulator {

// A count or size in JSON: a number, or a string of digits (64-bit values do not survive a
// double). Absent or null gives fallback; anything else that is no integer gives nullopt.
std::optional<qint64> jsonInteger(const QJsonValue &value, qint64 fallback);

// A time as Google writes it: UTC with milliseconds, "2024-03-01T09:30:00.000Z".
QString rfc3339(const QDateTime &time);

} // namespace Tarnwick::Emulator
