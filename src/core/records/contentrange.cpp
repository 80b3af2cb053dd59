#include "records/contentrange.h"

#include "records/decimalinteger.h"

namespace Tarnwick {

std::optional<ContentRange> ContentRange::parse(QByteArrayView header)
{
    constexpr QByteArrayView unit("bytes ");
    if (!header.startsWith(unit))
        return std::nullopt;
    const QByteArrayView rest = header.sliced(unit.size());
    const qsizetype dash = rest.indexOf('-');
    const qsizetype slash = rest.indexOf('/');
    if (dash < 0 || slash < dash)
        return std::nullopt;

    ContentRange range;
    const auto first = parseDigits(rest.first(dash));
    const auto last = parseDigits(rest.sliced(dash + 1, slash - dash - 1));
    if (!first || !last || *first > *last)
        return std::nullopt;
    range.first = *first;
    range.last = *last;

    const QByteArrayView total = rest.sliced(slash + 1);
    if (total != "*") {
        range.total = parseDigits(total);
        if (!range.total || *range.total <= range.last)
            return std::nullopt;
    }
    return range;
}

} // namespace Tarnwick
