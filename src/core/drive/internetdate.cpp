#include "drive/internetdate.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Tarnwick::InternetDate {

std::optional<QDateTime> parse(const QString &text)
{
    // Built once: the pattern is the same for every call.
    static const QRegularExpression pattern(
        uR"(^([0-9]{4})-([0-9]{2})-([0-9]{2})[Tt]([0-9]{2}):([0-9]{2}):([0-9]{2})(?:\.([0-9]+))?(?:([Zz])|([+-])([0-9]{2}):([0-9]{2}))$)"_s);
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const auto number = [&m](int group) { return m.capturedView(group).toInt(); };

    const QDate date(number(1), number(2), number(3));
    const int hour = number(4), minute = number(5), second = number(6);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const int millisecond = m.capturedView(7).left(3).toString().leftJustified(3, u'0').toInt();
    const QTime time(hour, minute, second, millisecond);

    int offsetSeconds = 0;
    if (!m.hasCaptured(8)) {
        const int offsetHours = number(10), offsetMinutes = number(11);
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offsetSeconds =
            (offsetHours * 3600 + offsetMinutes * 60) * (m.captured(9) == u"-"_s ? -1 : 1);
    }
    QDateTime result(date, time, Qt::OffsetFromUTC, offsetSeconds);
    // A zone can carry a date past either end of the years format() writes
    // ("0001-01-01T00:00:00+01:00" is in year 0); such a date could never be written back.
    if (!result.isValid() || !isWritable(result))
        return std::nullopt;
    return result.toUTC();
}

bool isWritable(const QDateTime &date)
{
    static const QDateTime last(QDate(9999, 12, 31), QTime(23, 59, 59, 999), Qt::UTC);
    return date.isValid() && date >= distantPast() && date <= last;
}

QString format(const QDateTime &date)
{
    if (!isWritable(date))
        return QString();
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

} // namespace Tarnwick::InternetDate
