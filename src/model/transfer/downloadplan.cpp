#include "downloadplan.h"

#include "async/async.h"
#include "records/uploadutilities.h"
#include "transfer.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <numeric>
#include <vector>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

const QString partSuffix = u".tarnwick-part"_s;

// Folder listings in flight at once while a download walks a tree.
constexpr qsizetype listingsAtOnce = 3;

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
        // A few folders are listed at once; their children are taken in the order the folders
        // were taken, so the plan does not depend on which answer came first.
        QList<std::pair<DriveFile, QString>> batch;
        while (!stack.isEmpty() && batch.size() < listingsAtOnce)
            batch.append(stack.takeLast());
        throwIfStopped(stop);
        std::vector<QCoro::Task<QList<DriveFile>>> listings;
        for (const auto &entry : std::as_const(batch))
            listings.push_back(drive.list(entry.first.id, false, stop));
        // Every listing is awaited before a failure goes on, so none outlives the walk.
        QList<QList<DriveFile>> answers;
        std::exception_ptr failure;
        for (auto &listing : listings) {
            try {
                answers.append(co_await listing);
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
        if (failure)
            std::rethrow_exception(failure);
        throwIfStopped(stop);
        QList<std::pair<DriveFile, QString>> below;
        for (qsizetype b = 0; b < batch.size(); ++b) {
            const QList<DriveFile> &children = answers[b];
            const QString &local = batch[b].second;
            const QStringList names = localNames(children);
            for (qsizetype i = 0; i < children.size(); ++i) {
                const DriveFile &child = children[i];
                const QString path = local + u'/' + names[i];
                if (child.isFolder())
                    below.append({child, path});
                else if (!child.isGoogleDocument())
                    result.append(RemoteItem{child, path});
            }
        }
        stack.append(below);
    }
    co_return result;
}

} // namespace Tarnwick
