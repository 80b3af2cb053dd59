#include "downloadplan.h"

#include "async/async.h"
#include "records/uploadutilities.h"
#include "transfer.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

const QString partSuffix = u".tarnwick-part"_s;

} // namespace

QStringList localNames(const QList<DriveFile> &children)
{
    // Names are handed out by Drive ID within each name, so the same files get the same names
    // whatever order the server lists them in.
    QList<qsizetype> order(children.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](qsizetype a, qsizetype b) {
        const QString &x = children[a].name;
        const QString &y = children[b].name;
        return x != y ? x < y : children[a].id < children[b].id;
    });

    QSet<QString> takenFolded;
    QSet<QString> reserved;
    const auto exists = [&takenFolded](const QString &path) {
        return takenFolded.contains(lastPathComponent(path).toCaseFolded());
    };
    QStringList names(children.size());
    for (qsizetype index : order) {
        QString name = children[index].name;
        // A file may never take the name a part file of a sibling would use.
        if (name.endsWith(partSuffix))
            name += u'-';
        const QString chosen = lastPathComponent(
            UploadUtilities::availableDestination(name, u"/"_s, reserved, exists));
        takenFolded.insert(chosen.toCaseFolded());
        names[index] = chosen;
    }
    return names;
}

QCoro::Task<QList<RemoteItem>> collectRemoteItems(DriveClient drive, DriveFile file, QString target,
                                                  std::stop_token stop)
{
    if (!file.isFolder())
        co_return QList<RemoteItem>{RemoteItem{file, target}};
    QList<RemoteItem> result;
    QList<std::pair<DriveFile, QString>> stack{{file, target}};
    while (!stack.isEmpty()) {
        const auto [folder, local] = stack.takeLast();
        throwIfStopped(stop);
        auto listing = drive.list(folder.id, false, stop);
        const QList<DriveFile> children = co_await listing;
        throwIfStopped(stop);
        const QStringList names = localNames(children);
        for (qsizetype i = 0; i < children.size(); ++i) {
            const DriveFile &child = children[i];
            const QString path = local + u'/' + names[i];
            if (child.isFolder())
                stack.append({child, path});
            else if (!child.isGoogleDocument())
                result.append(RemoteItem{child, path});
        }
    }
    co_return result;
}

} // namespace Tarnwick
