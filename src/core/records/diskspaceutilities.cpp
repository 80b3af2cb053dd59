#include "records/diskspaceutilities.h"

#include "records/byteformat.h"

#include <QDir>
#include <QStorageInfo>

using namespace Qt::StringLiterals;

namespace Tarnwick::DiskSpaceUtilities {

QString formatTransferSize(qint64 done, qint64 total)
{
    if (total >= 1)
        return formatByteCount(done) + " / "_L1 + formatByteCount(total);
    if (done >= 1)
        return formatByteCount(done);
    return u"—"_s;
}

std::optional<qint64> localFreeSpace(const std::optional<QString> &path)
{
    const QStorageInfo volume(path.value_or(QDir::homePath()));
    if (!volume.isValid() || !volume.isReady())
        return std::nullopt;
    // bytesFree() would include blocks reserved for root, which this user cannot fill.
    const qint64 available = volume.bytesAvailable();
    if (available < 0)
        return std::nullopt;
    return available;
}

bool isExternalVolume(const QString &path)
{
    if (!path.startsWith(u'/'))
        return false;
    const QString clean = QDir::cleanPath(path) + u'/';
    for (const QLatin1StringView root : {"/media/"_L1, "/run/media/"_L1, "/mnt/"_L1}) {
        // The folder holding the mounts is not itself a volume.
        if (clean.startsWith(root) && clean.size() > root.size())
            return true;
    }
    return false;
}

} // namespace Tarnwick::DiskSpaceUtilities
