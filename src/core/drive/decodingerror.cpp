#include "drive/decodingerror.h"

using namespace Qt::StringLiterals;

namespace Tarnwick {

QString DecodingError::description() const
{
    return u"Dữ liệu không đọc được (%1)."_s.arg(m_detail);
}

DecodingError DecodingError::missingKey(QLatin1StringView record, QLatin1StringView key)
{
    return DecodingError(u"%1: missing key \"%2\""_s.arg(record, key));
}

DecodingError DecodingError::wrongType(QLatin1StringView record, QLatin1StringView key,
                                       QLatin1StringView expected)
{
    return DecodingError(u"%1: \"%2\" is not %3"_s.arg(record, key, expected));
}

DecodingError DecodingError::malformed(QLatin1StringView record, const QString &reason)
{
    return DecodingError(u"%1: %2"_s.arg(record, reason));
}

} // namespace Tarnwick
