#include "uploadplan.h"

#include "async/async.h"
#include "records/errors.h"
#include "records/localnames.h"

#include <QFile>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

int UploadNode::fileCount() const
{
    if (!children)
        return 1;
    int count = 0;
    for (const UploadNode &child : *children)
        count += child.fileCount();
    return count;
}

void collectPaths(const UploadNode &node, QStringList *folders, QStringList *files)
{
    if (!node.isFolder()) {
        files->append(node.path);
        return;
    }
    folders->append(node.path);
    for (const UploadNode &child : *node.children)
        collectPaths(child, folders, files);
}

UploadNode UploadNode::scan(const QString &path, std::stop_token stop)
{
    throwIfStopped(stop);
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        throw SystemError::fromErrno(errno);
    if (S_ISLNK(info.st_mode))
        throw TarnwickError(u"Liên kết tượng trưng không được tải lên."_s);
    if (S_ISDIR(info.st_mode)) {
        UploadNode node{path, QList<UploadNode>{}, 0};
        for (const QString &child : LocalNames::children(path)) {
            node.children->append(scan(child, stop));
            node.bytes += node.children->last().bytes;
        }
        return node;
    }
    if (S_ISREG(info.st_mode))
        return UploadNode{path, std::nullopt, qint64(info.st_size)};
    throw TarnwickError(u"Không hỗ trợ loại file này."_s);
}

} // namespace Tarnwick
