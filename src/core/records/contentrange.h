#pragma once

#include <QByteArrayView>

#include <optional>

namespace Tarnwick {

// The Content-Range header of a partial answer: "bytes FIRST-LAST/TOTAL", or "bytes FIRST-LAST/*"
// when the server does not tell the total.
struct ContentRange
{
    qint64 first = 0;
    qint64 last = 0;
    std::optional<qint64> total;

    bool operator==(const ContentRange &other) const = default;

    // Missing unless the whole header has that form, with digits only, FIRST <= LAST, and
    // LAST < TOTAL when the total is given. Bytes placed by a header read loosely land at the
    // wrong offset of a file.
    static std::optional<ContentRange> parse(QByteArrayView header);
};

} // namespace Tarnwick
