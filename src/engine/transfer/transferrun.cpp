#include "transferrun.h"

#include "async/backgroundcall.h"
#include "downloadplan.h"
#include "records/errors.h"
#include "records/partialdownload.h"
#include "records/speedtracker.h"
#include "records/localnames.h"
#include "runreporter.h"
#include "workerpool.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// Creates folder and the folders above it; throws the system's reason when it cannot. True when
// this call made the folder itself, so that nothing is in it yet.
bool makeFolder(const QString &folder)
{
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), 0777) == 0)
        return true;
    const int failed = errno;
    if (failed == EEXIST && QFileInfo(folder).isDir())
        return false;
    if (!QDir().mkpath(folder)) {
        // mkpath hides errno; one mkdir of the last level gives the system's own text.
        if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST)
            throw SystemError::fromErrno(errno);
        if (!QFileInfo(folder).isDir())
            throw SystemError::fromErrno(ENOTDIR);
    }
    // A folder whose parent was missing did not exist either.
    return failed == ENOENT;
}

// Where each file of a download stands on disk before its run moves it.
struct OnDisk
{
    bool whole = false; // at its destination with the Drive file's size, at least one byte
    qint64 kept = 0;    // bytes its part file holds for a resume (PartialDownload)
};

// Background thread: makes the folders a download writes into (those of its files in plan
// order, then those no file makes) and looks at each file's destination and part file. The
// window's thread never waits on these: on a disk busy flushing gigabytes one stat can take a
// tenth of a second.
std::vector<OnDisk> lookAtDestinations(const QList<RemoteItem> &items,
                                       const QStringList &emptyFolders)
{
    std::vector<OnDisk> found(size_t(items.size()));
    QString made;
    bool madeEmpty = false;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const RemoteItem &item = items[i];
        // Files come folder by folder: each folder is looked at once.
        const QString folder = QFileInfo(item.destination).path();
        if (folder != made) {
            madeEmpty = makeFolder(folder);
            made = folder;
        }
        // A folder made just now holds neither a finished file nor a part file.
        if (madeEmpty)
            continue;
        const qint64 bytes = item.file.bytes();
        struct stat info;
        OnDisk &here = found[size_t(i)];
        here.whole = bytes >= 1
                     && ::stat(QFile::encodeName(item.destination).constData(), &info) == 0
                     && S_ISREG(info.st_mode) && qint64(info.st_size) == bytes;
        if (!here.whole)
            here.kept = PartialDownload::resumableOffset(
                LocalNames::partPath(item.destination), PartialDownload::stamp(item.file),
                bytes);
    }
    for (const QString &folder : emptyFolders)
        makeFolder(folder);
    return found;
}

class DownloadPlan final : public PoolPlan
{
public:
    // onDisk: each file's destination and part file, from lookAtDestinations().
    DownloadPlan(DriveClient drive, QList<RemoteItem> items, std::vector<OnDisk> onDisk,
                 QString displayRoot)
        : m_drive(std::move(drive))
        , m_items(std::move(items))
        , m_onDisk(std::move(onDisk))
        , m_displayRoot(std::move(displayRoot))
    {
    }

    int count() const override { return int(m_items.size()); }

    PoolFile file(int index) const override
    {
        const RemoteItem &item = m_items[index];
        return {item.file.name, item.file.bytes(), m_displayRoot + u'/' + item.file.name,
                item.destination};
    }

    std::optional<QString> skip(int index) override
    {
        if (m_onDisk[size_t(index)].whole)
            return TransferDetail::skippedDownload(m_items[index].file.name);
        return std::nullopt;
    }

    QCoro::Task<> move(int index, int worker, DriveClient::Progress progress,
                       std::stop_token stop) override
    {
        const RemoteItem item = m_items[index];
        std::shared_ptr<HttpLane> &lane = m_lanes[worker];
        if (!lane)
            lane = std::make_shared<HttpLane>();
        // The part file as the run found it: only this file's download changes it meanwhile.
        auto filling = m_drive.downloadPart(item.file, item.destination, std::move(progress),
                                            stop, lane, m_onDisk[size_t(index)].kept);
        m_filled[index] = co_await filling;
    }

    // A small file ends in about a round trip: the next request waits on the worker's lane and
    // goes out as soon as the current one ends. Behind a large one it would wait too long.
    bool movesAhead(int index) const override { return m_items[index].file.bytes() <= aheadLimit; }

    // The flush before the rename waits on the disk: the worker fetches the next file meanwhile.
    bool finishesLater() const override { return true; }
    QCoro::Task<> finish(int index) override
    {
        DriveClient::DownloadedPart filled;
        if (auto kept = m_filled.extract(index))
            filled = std::move(kept.mapped());
        return DriveClient::putInPlace(m_items[index].destination, std::move(filled));
    }

private:
    DriveClient m_drive;
    QList<RemoteItem> m_items;
    std::vector<OnDisk> m_onDisk;
    QString m_displayRoot;
    std::map<int, std::shared_ptr<HttpLane>> m_lanes;
    // Moved files waiting for their last step: a small one's bytes are still in memory.
    std::map<int, DriveClient::DownloadedPart> m_filled;
    static constexpr qint64 aheadLimit = 512 << 10;
};

class UploadPlan final : public PoolPlan
{
public:
    UploadPlan(DriveClient drive, RunReporter &reporter, QUuid transfer, QList<UploadItem> items)
        : m_drive(std::move(drive))
        , m_reporter(&reporter)
        , m_transfer(transfer)
        , m_items(std::move(items))
    {
    }

    int count() const override { return int(m_items.size()); }

    PoolFile file(int index) const override
    {
        const UploadItem &item = m_items[index];
        return {lastPathComponent(item.path), item.bytes, item.path, item.displayPath};
    }

    std::optional<QString> skip(int index) override
    {
        const QString &path = m_items[index].path;
        const std::optional<UploadCheckpoint> checkpoint = m_reporter->checkpoint(m_transfer);
        if (checkpoint && checkpoint->finished.contains(path))
            return TransferDetail::skippedUpload(lastPathComponent(path));
        return std::nullopt;
    }

    QCoro::Task<> move(int index, int, DriveClient::Progress progress, std::stop_token stop) override
    {
        const UploadItem item = m_items[index];
        const QString path = item.path;
        std::optional<UploadSession> resume;
        if (const auto checkpoint = m_reporter->checkpoint(m_transfer))
            resume = checkpoint->sessions.value(path);
        if (resume && resume->url.isEmpty())
            resume.reset();
        QPointer<RunReporter> reporter = m_reporter;
        const QUuid transfer = m_transfer;
        auto onSession = [reporter, transfer, path](const UploadSession &session) {
            if (reporter)
                reporter->changeCheckpoint(transfer, [&](UploadCheckpoint &c) {
                    c.sessions.insert(path, session);
                });
        };
        QString id;
        if (const auto checkpoint = m_reporter->checkpoint(m_transfer))
            id = checkpoint->reserved.value(path);
        auto sending = m_drive.upload(path, item.parent, resume, onSession, std::move(progress),
                                      stop, id);
        co_await sending;
        throwIfStopped(stop);
        m_reporter->changeCheckpoint(m_transfer, [&](UploadCheckpoint &c) {
            c.finished.insert(path);
            c.sessions.remove(path);
            c.reserved.remove(path);
        });
    }

private:
    DriveClient m_drive;
    QPointer<RunReporter> m_reporter;
    QUuid m_transfer;
    QList<UploadItem> m_items;
};

} // namespace

TransferRun::TransferRun(RunReporter &reporter, DriveClient drive, Transfer transfer,
                         std::stop_token stop)
    : m_reporter(&reporter)
    , m_transfer(std::move(transfer))
    , m_stop(std::move(stop))
    , m_drive(std::move(drive))
{
    // A run of hundreds of requests must not fail on one cut connection or one busy answer.
    m_drive.setRetryingTransientFailures(true);
    // The row says when the first request held back by Google's limits goes again.
    m_drive.setLimitWaitHandler(
        [reporter = m_reporter, id = m_transfer.id, stop = m_stop,
         waits = std::make_shared<std::multiset<QDateTime>>()](const QDateTime &until,
                                                                bool waiting) {
            if (waiting)
                waits->insert(until);
            else if (auto found = waits->find(until); found != waits->end())
                waits->erase(found);
            if (!reporter || stop.stop_requested())
                return;
            const QDateTime soonest = waits->empty() ? QDateTime() : *waits->begin();
            reporter->update(id, [&soonest](Transfer &t) { t.limitedUntil = soonest; });
        });
}

TransferRun::~TransferRun() = default;

void TransferRun::update(const std::function<void(Transfer &)> &change)
{
    throwIfStopped(m_stop);
    change(m_transfer);
    if (m_reporter)
        m_reporter->update(m_transfer.id, change);
}

QCoro::Task<> TransferRun::perform()
{
    auto tracker = std::make_unique<SpeedTracker>(2.0);
    if (m_transfer.isUpload())
        co_await performUpload(*tracker);
    else
        co_await performDownload(*tracker);
}

QCoro::Task<> TransferRun::performDownload(SpeedTracker &tracker)
{
    if (!m_transfer.remoteFile || !m_transfer.destination)
        co_return;
    const DriveFile remote = *m_transfer.remoteFile;
    const QString destination = *m_transfer.destination;
    update([&](Transfer &t) {
        t.detail = remote.isFolder() ? TransferDetail::scanningFolder()
                                     : TransferDetail::preparingDownload();
    });
    auto walking = collectRemoteItems(m_drive, remote, destination, m_stop);
    RemoteTree tree = co_await walking;
    throwIfStopped(m_stop);
    QList<RemoteItem> items = std::move(tree.files);
    const QStringList emptyFolders = std::move(tree.emptyFolders);

    qint64 total = 0;
    for (const RemoteItem &item : std::as_const(items))
        total += item.file.bytes();
    const int n = int(items.size());
    update([&](Transfer &t) {
        t.planning = false;
        t.total = total;
        t.totalFilesCount = std::max(n, 1);
        t.currentFileIndex = 1;
        if (n >= 1) {
            t.currentFileName = items.first().file.name;
            t.detail = TransferDetail::fileStarted(items.first().file.name, 1, n);
        } else {
            t.detail = TransferDetail::emptyFolder();
        }
    });
    // Every folder is made before the first file moves, so a failed file leaves them too.
    auto looking = runInBackground<std::vector<OnDisk>>(
        [items, emptyFolders] { return lookAtDestinations(items, emptyFolders); });
    std::vector<OnDisk> onDisk = co_await looking;
    throwIfStopped(m_stop);
    if (n == 0)
        co_return;

    const QString displayRoot = m_transfer.sourcePath.isEmpty()
                                    ? u"/Drive của tôi/"_s + m_transfer.name
                                    : m_transfer.sourcePath;
    DownloadPlan plan(m_drive, std::move(items), std::move(onDisk), displayRoot);
    WorkerPool pool(*m_reporter, m_transfer.id, plan, false, std::max(n, 1), tracker);
    co_await pool.run(std::min(std::max(n, 1), maxDownloadWorkers), m_stop);
}

QCoro::Task<> TransferRun::performUpload(SpeedTracker &tracker)
{
    const QString source = *m_transfer.source;
    const std::stop_token stop = m_stop;
    auto scanning = runInBackground<UploadNode>([source, stop] { return UploadNode::scan(source, stop); });
    const UploadNode node = co_await scanning;
    throwIfStopped(m_stop);

    const int files = std::max(node.fileCount(), 1);
    update([&](Transfer &t) {
        t.planning = false;
        t.total = node.bytes;
        t.totalFilesCount = files;
        t.currentFileIndex = 1;
        t.currentFileName = lastPathComponent(source);
        t.detail = TransferDetail::preparingUpload();
    });

    // Where the item lands on Drive, as the queue panel shows it.
    QString displayParent = m_transfer.destinationPath;
    if (displayParent.endsWith(u'/' + lastPathComponent(source)))
        displayParent.chop(lastPathComponent(source).size() + 1);
    if (displayParent.isEmpty())
        displayParent = u"/Drive của tôi"_s;

    co_await reserveIDs(node);
    throwIfStopped(m_stop);
    QList<UploadItem> items;
    co_await prepareUpload(node, m_transfer.parent, displayParent, &items);
    throwIfStopped(m_stop);

    UploadPlan plan(m_drive, *m_reporter, m_transfer.id, std::move(items));
    WorkerPool pool(*m_reporter, m_transfer.id, plan, true, files, tracker);
    co_await pool.run(std::max(1, std::min(plan.count(), maxUploadWorkers)), m_stop);
}

QCoro::Task<> TransferRun::reserveIDs(const UploadNode &node)
{
    QStringList folders;
    QStringList files;
    collectPaths(node, &folders, &files);
    const std::optional<UploadCheckpoint> known = m_reporter->checkpoint(m_transfer.id);
    QStringList missing;
    for (const QString &path : std::as_const(folders)) {
        if (!known || (!known->folders.contains(path) && !known->reserved.contains(path)))
            missing.append(path);
    }
    for (const QString &path : std::as_const(files)) {
        if (!known || (!known->finished.contains(path) && !known->reserved.contains(path)))
            missing.append(path);
    }
    // A thousand at a time, Drive's most per request.
    for (qsizetype start = 0; start < missing.size(); start += 1000) {
        const QStringList paths = missing.mid(start, 1000);
        auto generating = m_drive.generateIds(int(paths.size()), m_stop);
        const QStringList ids = co_await generating;
        throwIfStopped(m_stop);
        if (ids.size() != paths.size())
            throw TarnwickError(u"Google Drive trả về số ID không khớp."_s);
        // On disk before any create that uses them is sent.
        m_reporter->changeCheckpoint(m_transfer.id, [&](UploadCheckpoint &c) {
            for (qsizetype i = 0; i < paths.size(); ++i)
                c.reserved.insert(paths[i], ids[i]);
        });
        auto saving = m_reporter->checkpointsSaved();
        co_await saving;
        throwIfStopped(m_stop);
    }
}

QCoro::Task<QString> TransferRun::ensureFolder(UploadNode node, QString parent)
{
    throwIfStopped(m_stop);
    if (const auto checkpoint = m_reporter->checkpoint(m_transfer.id)) {
        const QString known = checkpoint->folders.value(node.path);
        if (!known.isEmpty())
            co_return known;
    }
    const QString name = lastPathComponent(node.path);
    update([&](Transfer &t) { t.detail = TransferDetail::creatingFolder(name); });
    QString reserved;
    if (const auto checkpoint = m_reporter->checkpoint(m_transfer.id))
        reserved = checkpoint->reserved.value(node.path);
    auto creating = m_drive.createFolder(name, parent, m_stop, reserved);
    const DriveFile created = co_await creating;
    throwIfStopped(m_stop);
    const QString folderID = created.id;
    const QString path = node.path;
    m_reporter->changeCheckpoint(m_transfer.id, [&](UploadCheckpoint &c) {
        c.folders.insert(path, folderID);
        c.reserved.remove(path);
    });
    co_return folderID;
}

QCoro::Task<> TransferRun::prepareUpload(UploadNode node, QString parent, QString displayFolder,
                                         QList<UploadItem> *items)
{
    throwIfStopped(m_stop);
    const QString display = displayFolder + u'/' + lastPathComponent(node.path);
    if (!node.isFolder()) {
        items->append(UploadItem{node.path, parent, node.bytes, display});
        co_return;
    }
    auto ensuring = ensureFolder(node, parent);
    const QString folderID = co_await ensuring;
    auto filling = prepareContents(node, folderID, display, items);
    co_await filling;
}

QCoro::Task<> TransferRun::prepareContents(UploadNode node, QString folderID, QString display,
                                           QList<UploadItem> *items)
{
    // Sibling folders are created side by side, a few at a time: each carries its own reserved
    // ID, so none can be made twice, and each parent exists before its children are sent.
    const QList<UploadNode> &children = *node.children;
    QHash<QString, QString> childIDs;
    QList<qsizetype> folders;
    for (qsizetype i = 0; i < children.size(); ++i) {
        if (children[i].isFolder())
            folders.append(i);
    }
    for (qsizetype start = 0; start < folders.size(); start += maxUploadWorkers) {
        const qsizetype end = std::min(folders.size(), start + qsizetype(maxUploadWorkers));
        std::vector<QCoro::Task<QString>> creating;
        for (qsizetype k = start; k < end; ++k)
            creating.push_back(ensureFolder(children[folders[k]], folderID));
        // Every create is awaited before a failure goes on, so none outlives the run.
        std::exception_ptr failure;
        for (qsizetype k = start; k < end; ++k) {
            try {
                childIDs.insert(children[folders[k]].path, co_await creating[size_t(k - start)]);
            } catch (...) {
                if (!failure)
                    failure = std::current_exception();
            }
        }
        if (failure)
            std::rethrow_exception(failure);
        throwIfStopped(m_stop);
    }
    for (const UploadNode &child : children) {
        const QString childDisplay = display + u'/' + lastPathComponent(child.path);
        if (!child.isFolder()) {
            items->append(UploadItem{child.path, folderID, child.bytes, childDisplay});
            continue;
        }
        auto filling = prepareContents(child, childIDs.value(child.path), childDisplay, items);
        co_await filling;
    }
}

} // namespace Tarnwick
