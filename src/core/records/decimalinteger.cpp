#include "records/decimalinteger.h"

#include <limits>

namespace Tarnwick {

namespace {

int codeOf(QChar c)
{
    return c.unicode();
}

int codeOf(char c)
{
    return static_cast<unsigned char>(c);
}

// The value of one or more ASCII digits and nothing else; missing past limit.
template<typename Text> std::optional<quint64> digitsValue(Text text, quint64 limit)
{
    if (text.isEmpty())
        return std::nullopt;
    quint64 magnitude = 0;
    for (const auto c : text) {
        const int code = codeOf(c);
        if (code < '0' || code > '9')
            return std::nullopt;
        const quint64 digit = quint64(code - '0');
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    return magnitude;
}

constexpr quint64 largest = quint64(std::numeric_limits<qint64>::max());

} // namespace

std::optional<qint64> parseDecimalInt64(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    // Accumulate the magnitude unsigned so that the most negative value still fits.
    const std::optional<quint64> magnitude = digitsValue(text, negative ? largest + 1 : largest);
    if (!magnitude)
        return std::nullopt;
    if (negative)
        return *magnitude == 0 ? 0 : -qint64(*magnitude - 1) - 1;
    return qint64(*magnitude);
}

std::optional<qint64> parseDigits(QStringView text)
{
    const std::optional<quint64> value = digitsValue(text, largest);
    return value ? std::optional<qint64>(qint64(*value)) : std::nullopt;
}

std::optional<qint64> parseDigits(QByteArrayView text)
{
    const std::optional<quint64> value = digitsValue(text, largest);
    return value ? std::optional<qint64>(qint64(*value)) : std::nullopt;
}

} // namespace Tarnwick
