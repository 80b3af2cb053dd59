// The emulator's name order, which it sorts listings by. For any three names the order is
// consistent: antisymmetric, transitive, and equal only for equal names.
#include "fuzzsupport.h"

#include "api/naturalorder.h"

#include <QStringList>

using namespace Tarnwick::Emulator;
using namespace Tarnwick::Fuzz;
using namespace Qt::StringLiterals;

namespace {

int sign(int c)
{
    return (c > 0) - (c < 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QStringList names = QString::fromUtf8(bytesOf(data, size)).split(u'\n');
    if (names.size() != 3)
        return 0;
    for (const QString &a : names) {
        for (const QString &b : names) {
            const int ab = sign(naturalCompare(a, b));
            check(ab == -sign(naturalCompare(b, a)), "antisymmetric", a + u" | "_s + b);
            check((ab == 0) == (a == b), "equal only when the same", a + u" | "_s + b);
            for (const QString &c : names) {
                if (ab < 0 && naturalCompare(b, c) < 0)
                    check(naturalCompare(a, c) < 0, "transitive", a + u" < "_s + b + u" < "_s + c);
            }
        }
    }
    return 0;
}
