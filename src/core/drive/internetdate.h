#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace Tarnwick::InternetDate {

// An RFC 3339 date-time as Drive sends it: "2024-05-01T08:30:15.123Z" or
// "2024-05-01T08:30:15+07:00", fractional seconds optional (kept to the millisecond),
// the zone designator required. Missing for anything else, a bare date included, and for a date
// that falls outside the years 1 to 9999 in UTC.
std::optional<QDateTime> parse(const QString &text);

// Whether format() can write date: valid, and in the years 1 to 9999 in UTC.
bool isWritable(const QDateTime &date);

// The UTC form with milliseconds, "2024-05-01T08:30:15.123Z"; parse() reads it back exactly.
// Empty when the date is not writable.
QString format(const QDateTime &date);

// 0001-01-01T00:00:00Z: the date of things that have none; earlier than every real date.
QDateTime distantPast();

} // namespace Tarnwick::InternetDate
