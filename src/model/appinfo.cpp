#include "appinfo.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::AppInfo {

QString version()
{
#ifdef TARNWICK_VERSION
    const QString built = QStringLiteral(TARNWICK_VERSION);
    if (!built.isEmpty())
        return built;
#endif
    return u"0.2.0"_s;
}

} // namespace Tarnwick::AppInfo
