#include "records/uploadutilities.h"

#include "records/decimalinteger.h"
#include "records/errors.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::UploadUtilities {

qint64 confirmedOffset(const std::optional<QString> &range, qint64 total)
{
    if (!range)
        return 0;
    const QLatin1StringView prefix("bytes=0-");
    if (range->startsWith(prefix)) {
        const auto last = parseDigits(QStringView(*range).mid(prefix.size()));
        if (last && *last < total)
            return *last + 1;
    }
    throw TarnwickError(u"Google trả về tiến trình tải lên không hợp lệ."_s);
}

} // namespace Tarnwick::UploadUtilities
