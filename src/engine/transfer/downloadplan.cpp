#include "downloadplan.h"

#include "async/async.h"
#include "records/localnames.h"
#include "transfer.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <deque>
#include <numeric>

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
            LocalNames::availableDestination(name, u"/"_s, reserved, exists));
        takenFolded.insert(chosen.toCaseFolded());
        names[index] = chosen;
    }
    return names;
}

QCoro::Task<RemoteTree> collectRemoteItems(DriveClient drive, DriveFile file, QString target,
                                           std::stop_token stop)
{
    if (!file.isFolder())
        co_return RemoteTree{{RemoteItem{file, target}}, {}};
    // Folders are listed in the order they are found, a few at once: the next listing goes out
    // as soon as the oldest answer is in, and answers are taken in the order they were asked
    // for, so the plan does not depend on which came first.
    RemoteTree result;
    std::deque<std::pair<DriveFile, QString>> waiting{{file, target}};
    std::deque<std::pair<QString, QCoro::Task<QList<DriveFile>>>> listing;
    std::exception_ptr failure;
    while (!listing.empty() || (!waiting.empty() && !failure)) {
        while (!failure && !waiting.empty() && qsizetype(listing.size()) < listingsAtOnce) {
            std::pair<DriveFile, QString> next = std::move(waiting.front());
            waiting.pop_front();
            listing.emplace_back(std::move(next.second), drive.list(next.first.id, false, stop));
        }
        std::pair<QString, QCoro::Task<QList<DriveFile>>> oldest = std::move(listing.front());
        listing.pop_front();
        const QString &local = oldest.first;
        // Every listing is awaited before a failure goes on, so none outlives the walk.
        QList<DriveFile> children;
        try {
            children = co_await oldest.second;
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
            continue;
        }
        if (failure)
            continue;
        const QStringList names = localNames(children);
        bool makesItself = false;
        for (qsizetype i = 0; i < children.size(); ++i) {
            const DriveFile &child = children[i];
            const QString path = local + u'/' + names[i];
            if (child.isFolder()) {
                waiting.emplace_back(child, path);
                makesItself = true;
            } else if (!child.isGoogleDocument()) {
                result.files.append(RemoteItem{child, path});
                makesItself = true;
            }
        }
        // A folder with a file or a subfolder is made on the way to them.
        if (!makesItself)
            result.emptyFolders.append(local);
    }
    if (failure)
        std::rethrow_exception(failure);
    throwIfStopped(stop);
    co_return result;
}

} // namespace Tarnwick
