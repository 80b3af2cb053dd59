#pragma once

#include <QStringView>

#include <optional>

namespace Tarnwick {

// A base-10 signed 64-bit integer: an optional "+" or "-" and one or more ASCII digits,
// nothing else (no spaces, no fraction, no digit grouping). Missing when malformed or out of
// range.
std::optional<qint64> parseDecimalInt64(QStringView text);

} // namespace Tarnwick
