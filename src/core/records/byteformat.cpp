#include "records/byteformat.h"

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

struct Unit
{
    QLatin1StringView name;
    quint64 size;
    int decimals;
};

constexpr quint64 kilo = 1000;
constexpr Unit units[] = {
    {"KB"_L1, kilo, 0},
    {"MB"_L1, kilo *kilo, 1},
    {"GB"_L1, kilo *kilo *kilo, 2},
    {"TB"_L1, kilo *kilo *kilo *kilo, 2},
    {"PB"_L1, kilo *kilo *kilo *kilo *kilo, 2},
    {"EB"_L1, kilo *kilo *kilo *kilo *kilo *kilo, 2},
};

quint64 power10(int exponent)
{
    quint64 result = 1;
    while (exponent-- > 0)
        result *= 10;
    return result;
}

QString formatMagnitude(quint64 bytes)
{
    if (bytes < kilo)
        return QString::number(bytes) + " byte"_L1;

    qsizetype index = 0;
    while (index + 1 < qsizetype(std::size(units)) && bytes >= units[index + 1].size)
        ++index;

    // Integer rounding keeps every qint64 exact; bytes + step/2 cannot overflow 64 unsigned bits.
    for (;; ++index) {
        const Unit &unit = units[index];
        const quint64 scale = power10(unit.decimals);
        const quint64 step = unit.size / scale;
        const quint64 scaled = (bytes + step / 2) / step;
        const bool last = index + 1 == qsizetype(std::size(units));
        if (scaled >= kilo * scale && !last)
            continue;
        QString text = QString::number(scaled / scale);
        quint64 fraction = scaled % scale;
        int digits = unit.decimals;
        while (digits > 0 && fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        if (digits > 0)
            text += u'.' + QString::number(fraction).rightJustified(digits, u'0');
        return text + u' ' + unit.name;
    }
}

} // namespace

QString formatByteCount(qint64 bytes)
{
    if (bytes < 0)
        return u'-' + formatMagnitude(quint64(-(bytes + 1)) + 1);
    return formatMagnitude(quint64(bytes));
}

QString formatSpeed(double bytesPerSecond)
{
    if (!std::isfinite(bytesPerSecond) || bytesPerSecond <= 0)
        return QString();
    // 2^63 as a double; anything at or above it would overflow the conversion.
    constexpr double limit = 9223372036854775808.0;
    const qint64 whole =
        bytesPerSecond >= limit ? std::numeric_limits<qint64>::max() : qint64(bytesPerSecond);
    return formatByteCount(whole) + "/s"_L1;
}

QString formatRemainingTime(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return QString();
    constexpr double limit = 9223372036854775808.0;
    const qint64 s = seconds >= limit ? std::numeric_limits<qint64>::max() : qint64(seconds);
    const QString prefix = u"còn ~"_s;
    if (s < 60)
        return prefix + QString::number(s) + u's';
    if (s < 3600) {
        QString text = prefix + QString::number(s / 60) + u'p';
        if (s % 60 != 0)
            text += u' ' + QString::number(s % 60) + u's';
        return text;
    }
    return prefix + QString::number(s / 3600) + "h "_L1 + QString::number((s % 3600) / 60) + u'p';
}

} // namespace Tarnwick
