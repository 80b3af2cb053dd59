// What a server says it holds or sends: the Range of a resumable upload's status answer and the
// Content-Range of a partial download. A confirmed offset never passes the total; a range that
// reads has first <= last < total, and writing it back reads the same.
#include "fuzzsupport.h"

#include "records/contentrange.h"
#include "records/errors.h"
#include "records/uploadutilities.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte picks the total the offset is checked against.
    const uint8_t selector = takeSelector(data, size);
    const qint64 totals[] = {0, 1, 50, 100, 1 << 20, std::numeric_limits<qint64>::max()};
    const qint64 total = totals[selector % std::size(totals)];
    const QByteArray bytes = bytesOf(data, size);

    try {
        const qint64 offset = UploadUtilities::confirmedOffset(QString::fromLatin1(bytes), total);
        check(offset >= 1 && offset <= total, "a confirmed offset lies in 1..total",
              QString::fromLatin1(bytes));
    } catch (const TarnwickError &) {
    }

    if (const auto range = ContentRange::parse(bytes)) {
        check(range->first >= 0 && range->first <= range->last, "first <= last");
        check(!range->total || range->last < *range->total, "last < total");
        const QByteArray written = "bytes " + QByteArray::number(range->first) + '-' +
                                   QByteArray::number(range->last) + '/' +
                                   (range->total ? QByteArray::number(*range->total) : "*");
        check(ContentRange::parse(written) == range, "a range written back reads the same",
              QString::fromLatin1(written));
    }
    return 0;
}
