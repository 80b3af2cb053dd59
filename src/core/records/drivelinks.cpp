#include "records/drivelinks.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Tarnwick::DriveLinks {

std::optional<QString> parseDriveID(const QString &text)
{
    static const QRegularExpression patterns[] = {
        QRegularExpression(u"/folders/([a-zA-Z0-9_-]+)"_s),
        QRegularExpression(u"/file/d/([a-zA-Z0-9_-]+)"_s),
        QRegularExpression(u"/d/([a-zA-Z0-9_-]+)"_s),
        QRegularExpression(u"[?&]id=([a-zA-Z0-9_-]+)"_s),
    };
    static const QRegularExpression bareID(u"^[a-zA-Z0-9_-]+$"_s);

    const QString trimmed = text.trimmed();
    for (const QRegularExpression &pattern : patterns) {
        const QRegularExpressionMatch match = pattern.match(trimmed);
        if (match.hasMatch())
            return match.captured(1);
    }
    if (trimmed.size() > 24 && trimmed.size() <= 60 && bareID.match(trimmed).hasMatch())
        return trimmed;
    return std::nullopt;
}

} // namespace Tarnwick::DriveLinks
