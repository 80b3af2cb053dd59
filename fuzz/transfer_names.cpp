// Local names for downloads, made from Drive names. The name picked is directly inside the
// destination folder, never ".", ".." or empty, holds no "/" or NUL, and it and its part file both
// fit the 255-byte limit of a file name, whatever the Drive name and whichever names are taken.
#include "fuzzsupport.h"

#include "records/uploadutilities.h"

#include <QSet>

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte says how many of the first candidates are taken.
    const int taken = takeSelector(data, size) % 8;
    const QString name = QString::fromUtf8(bytesOf(data, size));
    const QString folder = QStringLiteral("/dl");

    QSet<QString> reserved;
    int asked = 0;
    const auto exists = [&](const QString &) { return asked++ < taken; };
    const QString destination = UploadUtilities::availableDestination(name, folder, reserved, exists);

    check(destination.startsWith(QStringLiteral("/dl/")), "inside the folder", destination);
    const QString chosen = destination.mid(4);
    check(!chosen.isEmpty() && chosen != QStringLiteral(".") && chosen != QStringLiteral(".."),
          "never empty, . or ..", chosen);
    check(!chosen.contains(u'/') && !chosen.contains(QChar(0)), "no / or NUL", chosen);
    check(chosen.toUtf8().size() <= 255, "the name fits", chosen);
    const QString part = UploadUtilities::partialURL(destination);
    check(part.startsWith(QStringLiteral("/dl/.")) && part.mid(4).toUtf8().size() <= 255,
          "the part file fits beside it", part);
    check(reserved.contains(chosen), "the name is reserved for the batch", chosen);
    // The name came from UTF-8, so it holds no lone surrogate unless a cut split a pair.
    check(QString::fromUtf8(chosen.toUtf8()) == chosen, "cut between whole characters", chosen);
    return 0;
}
