#include "queuetesting.h"

#include "support/testsupport.h"
#include "transfer/transferqueue.h"

#include "async/runsync.h"
#include "net/tarnwicknetwork.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

using namespace Qt::StringLiterals;

namespace Tarnwick::Testing {

namespace {

// The token is a parameter, so the task keeps its own copy.
QCoro::Task<QString> ready(QString token)
{
    co_return token;
}

} // namespace

QueueTest::QueueTest()
{
    // Stored as a signed-in model would find it, for the tests that start one.
    storeSession();
    m_token = account.accessToken;
    // The account's token, and a new one when Drive refuses it (as a sign-in would refresh it).
    m_ownClient.emplace(TarnwickNetwork::session(), [this](bool forceRefresh, std::stop_token) {
        if (forceRefresh)
            m_token = emulator.issueAccessToken(account.email);
        return ready(m_token);
    });
    m_ownTransfers = std::make_unique<Transfers>(desktop, *m_ownClient, [] { return true; });
    const QString folder = localDir.path();
    const QString myDrive = u"/Drive của tôi"_s;
    m_ownTransfers->setPanes({
        .localFolder = [folder]() -> std::optional<QString> { return folder; },
        .uploadTarget = [myDrive]() -> std::optional<Transfers::UploadTarget> {
            return Transfers::UploadTarget{u"root"_s, myDrive};
        },
        .cloudPath = [myDrive] { return myDrive; },
    });
    transfers = m_ownTransfers.get();
}

QueueTest::~QueueTest()
{
    quit();
}

void QueueTest::useModel()
{
    quit();
    model = signedInModel();
    runSync(model->local().navigateLocal(localDir.path()));
    transfers = &model->transfers();
}

void QueueTest::quit()
{
    transfers = nullptr;
    m_ownTransfers.reset();
    model.reset();
}

void QueueTest::replaceModel()
{
    quit();
    model = makeModel();
    transfers = &model->transfers();
}

void QueueTest::startModel()
{
    replaceModel();
    runSync(model->initialize());
}

const Transfer *QueueTest::transfer(const QUuid &id) const
{
    return transfers->queue().find(id);
}

const Transfer &QueueTest::at(qsizetype row) const
{
    const QList<Transfer> &all = transfers->list();
    if (row >= all.size()) {
        ADD_FAILURE() << "no transfer in row " << row;
        static const Transfer none;
        return none;
    }
    return all[row];
}

bool QueueTest::reaches(const QUuid &id, TransferState state) const
{
    return waitUntil([&] {
        const Transfer *t = transfer(id);
        return t && t->state == state;
    });
}

bool QueueTest::allFinished() const
{
    return waitUntil([&] {
        for (const Transfer &t : transfers->list()) {
            if (!isFinished(t.state))
                return false;
        }
        return transfers->queue().activeRuns() == 0;
    });
}

QList<TransferState> QueueTest::states() const
{
    QList<TransferState> out;
    for (const Transfer &t : transfers->list())
        out.append(t.state);
    return out;
}

const DriveClient &QueueTest::drive() const
{
    return model ? model->connection().drive() : *m_ownClient;
}

DriveFile QueueTest::driveFile(const QString &id) const
{
    return DriveFile::fromJson(*emulator.itemMetadata(id));
}

void QueueTest::download(const QList<DriveFile> &files, const QString &folder)
{
    runSync(transfers->enqueueDownloads(files, folder));
}

void QueueTest::upload(const QStringList &paths)
{
    transfers->enqueueUploads(paths);
}

int QueueTest::throttleMedia(const QString &id, qint64 bytesPerSecond)
{
    Emulator::FaultRule rule =
        Emulator::FaultRule::throttle(bytesPerSecond, u"GET"_s, u"^/drive/v3/files/"_s + id + u'$');
    rule.times = 0;
    return emulator.addFault(rule);
}

QList<Emulator::RequestRecord> QueueTest::mediaRequests(const QString &id) const
{
    QList<Emulator::RequestRecord> out;
    for (const Emulator::RequestRecord &r : requests(u"GET"_s, u"^/drive/v3/files/"_s + id + u'$')) {
        if (r.queryValue(u"alt"_s) == u"media")
            out.append(r);
    }
    return out;
}

QString QueueTest::sha256OfFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QMap<QString, QString> QueueTest::localTree(const QString &root)
{
    QMap<QString, QString> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = path.mid(root.size() + 1);
        tree.insert(relative, it.fileInfo().isDir() ? u"/"_s : sha256OfFile(path));
    }
    return tree;
}

QMap<QString, QString> QueueTest::driveTree(const QString &folderId) const
{
    QMap<QString, QString> tree;
    QList<std::pair<QString, QString>> stack{{folderId, QString()}};
    while (!stack.isEmpty()) {
        const auto [id, prefix] = stack.takeLast();
        for (const QString &child : emulator.childIds(id)) {
            const QJsonObject meta = *emulator.itemMetadata(child, {}, u"id,name,mimeType"_s);
            QString path = prefix + meta.value(u"name"_s).toString();
            // A second item of the same name shows up instead of hiding behind the first.
            while (tree.contains(path))
                path += u"#duplicate"_s;
            if (meta.value(u"mimeType"_s).toString() == u"application/vnd.google-apps.folder") {
                tree.insert(path, u"/"_s);
                stack.append({child, path + u'/'});
            } else {
                tree.insert(path, emulator.contentSha256(child));
            }
        }
    }
    return tree;
}

} // namespace Tarnwick::Testing
