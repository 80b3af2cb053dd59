// Dates in Drive's answers. A date that reads formats to text that reads back to the same
// instant, and is never before the date of things that have none.
#include "fuzzsupport.h"

#include "drive/internetdate.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;
using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(bytesOf(data, size));
    const auto date = InternetDate::parse(text);
    if (!date)
        return 0;
    const QString written = InternetDate::format(*date);
    check(written.size() == 24, "the written form is YYYY-MM-DDTHH:MM:SS.mmmZ", text + u" → "_s + written);
    check(InternetDate::parse(written) == date, "a written date reads back", text + u" → "_s + written);
    check(*date >= InternetDate::distantPast(), "no date before the far past", text);
    return 0;
}
