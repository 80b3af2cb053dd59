#include "queuetesting.h"

#include "support/testsupport.h"
#include "transfer/transferqueue.h"

#include "async/runsync.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>

using namespace Qt::StringLiterals;

namespace Tarnwick::Testing {

QueueTest::QueueTest()
{
    model = signedInModel();
    runSync(model->navigateLocal(localDir.path()));
}

QueueTest::~QueueTest()
{
    model.reset();
}

const Transfer *QueueTest::transfer(const QUuid &id) const
{
    return model->queue().find(id);
}

const Transfer &QueueTest::at(qsizetype row) const
{
    const QList<Transfer> &all = model->transfers();
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
        for (const Transfer &t : model->transfers()) {
            if (!isFinished(t.state))
                return false;
        }
        return model->queue().activeRuns() == 0;
    });
}

QList<TransferState> QueueTest::states() const
{
    QList<TransferState> out;
    for (const Transfer &t : model->transfers())
        out.append(t.state);
    return out;
}

DriveFile QueueTest::driveFile(const QString &id) const
{
    return DriveFile::fromJson(*emulator.itemMetadata(id));
}

void QueueTest::download(const QList<DriveFile> &files, const QString &folder)
{
    runSync(model->enqueueDownloads(files, folder));
}

void QueueTest::upload(const QStringList &paths)
{
    model->enqueueUploads(paths);
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
