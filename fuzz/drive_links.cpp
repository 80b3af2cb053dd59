// Pasted or dropped Drive links and IDs, and names typed for a new folder or a rename. An ID read
// from a link is only letters, digits, "-" and "_"; a name that passes validation is trimmed,
// never empty, ".", "..", and holds neither "/" nor NUL.
#include "fuzzsupport.h"

#include "records/errors.h"
#include "records/drivelinks.h"
#include "records/drivenames.h"

using namespace Tarnwick;
using namespace Tarnwick::Fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(bytesOf(data, size));

    if (const auto id = DriveLinks::parseDriveID(text)) {
        check(!id->isEmpty(), "an ID is never empty", text);
        for (const QChar c : *id)
            check((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                      c == u'-' || c == u'_',
                  "an ID holds only letters, digits, - and _", *id);
    }

    try {
        const QString name = DriveNames::validateName(text);
        check(name == name.trimmed() && !name.isEmpty(), "a name is trimmed and not empty", name);
        check(name != QStringLiteral(".") && name != QStringLiteral(".."), "a name is never . or ..",
              name);
        check(!name.contains(u'/') && !name.contains(QChar(0)), "a name holds no / or NUL", name);
    } catch (const TarnwickError &) {
    }
    return 0;
}
