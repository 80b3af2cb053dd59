// Local names for downloads, made from Drive names. The name picked is directly inside the
// destination folder, never ".", ".." or empty, holds no "/" or NUL, and it and its part file both
// fit the 255-byte limit of a file name, whatever the Drive name and whichever names are taken.
#include "fuzzsupport.h"

#include "records/localnames.h"

#include <QFile>
#include <QSet>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte says how many of the first candidates are taken (its low three bits) and
    // whether the name is read as UTF-16 (bit 3), which can hold lone surrogates as Drive's JSON
    // can.
    const uint8_t selector = takeSelector(data, size);
    const int taken = selector % 8;
    const QString name = selector & 8
                             ? QString::fromUtf16(reinterpret_cast<const char16_t *>(data),
                                                  qsizetype(size / 2))
                             : QString::fromUtf8(bytesOf(data, size));
    const QString folder = QStringLiteral("/dl");

    QSet<QString> reserved;
    int asked = 0;
    const auto exists = [&](const QString &) { return asked++ < taken; };
    const QString destination = LocalNames::availableDestination(name, folder, reserved, exists);

    check(destination.startsWith(QStringLiteral("/dl/")), "inside the folder", destination);
    const QString chosen = destination.mid(4);
    check(!chosen.isEmpty() && chosen != QStringLiteral(".") && chosen != QStringLiteral(".."),
          "never empty, . or ..", chosen);
    check(!chosen.contains(u'/') && !chosen.contains(QChar(0)), "no / or NUL", chosen);
    // Measured as the file system gets the name.
    check(QFile::encodeName(chosen).size() <= 255, "the name fits", chosen);
    const QString part = LocalNames::partPath(destination);
    check(part.startsWith(QStringLiteral("/dl/.")) && QFile::encodeName(part.mid(4)).size() <= 255,
          "the part file fits beside it", part);
    check(reserved.contains(chosen), "the name is reserved for the batch", chosen);
    // No lone surrogate is left, and no cut split a pair.
    // (Checked pair by pair: a UTF-8 round trip would also drop a leading U+FEFF, which a name
    // may hold.)
    for (qsizetype i = 0; i < chosen.size(); ++i) {
        const QChar c = chosen.at(i);
        const bool paired = c.isHighSurrogate() ? i + 1 < chosen.size() && chosen.at(++i).isLowSurrogate()
                                                : !c.isLowSurrogate();
        check(paired, "cut between whole characters", chosen);
    }
    return 0;
}
