#pragma once

#include <QString>

namespace Tarnwick {

// The byte-count text of the whole window, in decimal multiples (1 KB = 1000 bytes) and
// independent of the process locale:
//   below 1000          "0 byte", "1 byte", "999 byte"
//   KB                  no decimals          "12 KB"
//   MB                  one decimal          "1.5 MB", "2 MB"
//   GB, TB, PB, EB      two decimals         "1.23 GB", "2 GB"
// Values are rounded half up; trailing zeros after "." are dropped, and a value that rounds
// up to 1000 of a unit moves to the next unit (999,999 bytes is "1 MB", not "1000 KB").
// Negative values get the magnitude's text behind a "-".
QString formatByteCount(qint64 bytes);

// A speed as formatByteCount of the whole bytes per second followed by "/s" ("1.5 MB/s");
// empty for zero, negative and non-finite values.
QString formatSpeed(double bytesPerSecond);

// "còn ~45s", "còn ~3p 20s", "còn ~2h 15p" from a number of seconds (truncated);
// empty unless the value is positive and finite.
QString formatRemainingTime(double seconds);

} // namespace Tarnwick
