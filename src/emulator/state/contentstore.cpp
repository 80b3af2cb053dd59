#include "state/contentstore.h"

#include "state/driveids.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

ContentStore::ContentStore(const QString &dir)
{
    if (dir.isEmpty()) {
        m_temp =
            std::make_unique<QTemporaryDir>(QDir::temp().filePath(u"tarnwick-emulator-XXXXXX"_s));
        if (m_temp->isValid())
            m_dir = m_temp->path();
    } else if (QDir().mkpath(dir)) {
        m_dir = QFileInfo(dir).absoluteFilePath();
    }
}

ContentStore::~ContentStore() = default;

QString ContentStore::newPath(const QString &suffix) const
{
    return m_dir + u'/' + DriveIds::randomToken(24) + suffix;
}

Blob ContentStore::write(const QByteArray &bytes) const
{
    const QString path = newPath();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return ContentBlob::stored(path, bytes.size(), true);
}

Blob ContentStore::adopt(const QString &path) const
{
    return ContentBlob::stored(path, QFileInfo(path).size(), true);
}

bool ContentStore::contains(const QString &path) const
{
    return QFileInfo(path).absolutePath() == m_dir;
}

void ContentStore::removeAllExcept(const QStringList &keep) const
{
    const QSet<QString> kept(keep.begin(), keep.end());
    const QDir dir(m_dir);
    for (const QString &name : dir.entryList(QDir::Files)) {
        const QString path = dir.filePath(name);
        if (!kept.contains(path))
            QFile::remove(path);
    }
}

} // namespace Tarnwick::Emulator
