#pragma once

#include <QByteArrayView>
#include <QStringView>

#include <optional>

namespace Tarnwick {

// A base-10 signed 64-bit integer: an optional "+" or "-" and one or more ASCII digits,
// nothing else (no spaces, no fraction, no digit grouping). Missing when malformed or out of
// range.
std::optional<qint64> parseDecimalInt64(QStringView text);

// One or more ASCII digits and nothing else, not even a sign: a count or an offset read from a
// header. Missing when malformed or above the largest qint64.
std::optional<qint64> parseDigits(QStringView text);
std::optional<qint64> parseDigits(QByteArrayView text);

} // namespace Tarnwick
