#include "browse/localfolderlisting.h"

#include "records/errors.h"
#include "records/sortoption.h"
#include "records/twohalves.h"

#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Tarnwick {

const SortOption LocalFolderListing::order{SortOption::Key::Name, true, true};

namespace {

// Folders this big have their entries looked at on two threads.
constexpr qsizetype parallelFrom = 4096;

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QDateTime modificationTime(const struct stat &st)
{
    return QDateTime::fromMSecsSinceEpoch(
        qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000, Qt::UTC);
}

} // namespace

LocalFolderListing LocalFolderListing::read(const QString &folder)
{
    LocalFolderListing result;
    DIR *dir = opendir(QFile::encodeName(folder).constData());
    if (!dir) {
        result.failure = SystemError::fromErrno(errno).description();
        return result;
    }
    const auto closing = qScopeGuard([dir] { closedir(dir); });
    const int fd = dirfd(dir);
    // The names first, one after another in one buffer; then the status and the sort key of
    // each, the costly part of a big folder, on two threads.
    QByteArray names;
    QList<qsizetype> starts;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(dir);
        if (!entry) {
            if (errno != 0) {
                result.failure = SystemError::fromErrno(errno).description();
                return result;
            }
            break;
        }
        if (entry->d_name[0] == '.')
            continue; // ".", ".." and hidden entries
        starts.append(names.size());
        names.append(entry->d_name, qsizetype(std::strlen(entry->d_name)) + 1);
    }

    struct Part
    {
        QList<LocalFile> files;
        QList<SortOption::Row> rows;
        int error = 0;
        void append(Part &&other)
        {
            files.append(std::move(other.files));
            rows.append(std::move(other.rows));
            if (!error)
                error = other.error;
        }
    };
    const auto look = [&](qsizetype from, qsizetype to) {
        Part part;
        part.files.reserve(to - from);
        part.rows.reserve(to - from);
        for (qsizetype i = from; i < to; ++i) {
            const char *name = names.constData() + starts[i];
            struct stat st;
            if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // An entry deleted between readdir and stat is simply no longer there.
                if (errno == ENOENT)
                    continue;
                part.error = errno;
                break;
            }
            if (S_ISLNK(st.st_mode))
                continue;
            const bool isFolder = S_ISDIR(st.st_mode);
            // Names on Linux are UTF-8 bytes; fromUtf8 reads 100,000 of them far faster than
            // the locale decoder, with the same replacement of bytes that are not UTF-8.
            const QString display = QString::fromUtf8(name);
            const qint64 size = isFolder ? 0 : qint64(st.st_size);
            const QDateTime modified = modificationTime(st);
            part.files.append(LocalFile{childPath(folder, display), isFolder, size, modified});
            part.rows.append(order.row(display, isFolder, modified, size));
        }
        return part;
    };
    Part files = inTwoHalves(starts.size(), parallelFrom, look);
    if (files.error) {
        result.failure = SystemError::fromErrno(files.error).description();
        return result;
    }

    result.files.reserve(files.files.size());
    for (qsizetype i : order.order(files.rows))
        result.files.append(std::move(files.files[i]));
    return result;
}

} // namespace Tarnwick
