#include "records/drivenames.h"

#include "records/errors.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::DriveNames {

QString validateName(const QString &name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed == "."_L1 || trimmed == ".."_L1 || trimmed.contains(u'/') ||
        trimmed.contains(QChar(0)))
        throw TarnwickError(u"Tên không được để trống hoặc chứa dấu /."_s);
    return trimmed;
}

} // namespace Tarnwick::DriveNames
