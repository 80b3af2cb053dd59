#include "records/partialdownload.h"

#include "drive/drivefile.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick::PartialDownload {

QString stamp(const DriveFile &file)
{
    return file.id + u'|' + file.modifiedTime.value_or(QString()) + u'|' +
           QString::number(file.bytes());
}

void mark(const QString &part, const QString &stamp)
{
    const QByteArray value = stamp.toUtf8();
    ::setxattr(QFile::encodeName(part).constData(), attributeName, value.constData(),
               size_t(value.size()), 0);
}

void mark(int descriptor, const QString &stamp)
{
    const QByteArray value = stamp.toUtf8();
    ::fsetxattr(descriptor, attributeName, value.constData(), size_t(value.size()), 0);
}

std::optional<QString> readStamp(const QString &part)
{
    const QByteArray path = QFile::encodeName(part);
    // The attribute may change between asking its size and reading it; retry a few times.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = ::getxattr(path.constData(), attributeName, nullptr, 0);
        if (size < 0)
            return std::nullopt;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t read =
            ::getxattr(path.constData(), attributeName, value.data(), size_t(value.size()));
        if (read >= 0) {
            value.truncate(read);
            return QString::fromUtf8(value);
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    return std::nullopt;
}

qint64 resumableOffset(const QString &part, const QString &stamp, qint64 total)
{
    const QByteArray path = QFile::encodeName(part);
    struct stat info;
    const bool readable = ::lstat(path.constData(), &info) == 0;
    if (!readable && errno == ENOENT)
        return 0;

    // A symbolic link or other non-regular entry is never resumed into: writing through it
    // would land somewhere else. unlink removes the link, not its target.
    const bool usable = readable && S_ISREG(info.st_mode) && total > 0 && info.st_size > 0 &&
                        info.st_size <= total && readStamp(part) == stamp;
    if (!usable) {
        ::unlink(path.constData());
        return 0;
    }
    return qint64(info.st_size);
}

} // namespace Tarnwick::PartialDownload
