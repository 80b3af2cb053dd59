#include "common/fileiconcache.h"

#include "common/icons.h"
#include "common/palette.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
const QString directoryKey = u"___directory___"_s;
} // namespace

FileIconCache::FileIconCache()
    : m_cache(limit)
{
}

FileIconCache &FileIconCache::shared()
{
    static FileIconCache cache;
    return cache;
}

QString FileIconCache::key(const QString &path, bool isDirectory)
{
    if (isDirectory)
        return directoryKey;
    return QFileInfo(path).suffix().toLower();
}

QPixmap FileIconCache::icon(const QString &path, bool isDirectory)
{
    const QString k = key(path, isDirectory);
    if (const QPixmap *cached = m_cache.object(k))
        return *cached;

    const QIcon source = systemIcon(path, isDirectory, k);
    const qreal dpr = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    auto *image = new QPixmap(QSize(side, side) * dpr);
    image->fill(Qt::transparent);
    {
        QPainter painter(image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        source.paint(&painter, QRect(QPoint(0, 0), image->size()));
    }
    image->setDevicePixelRatio(dpr);
    const QPixmap result = *image;
    m_cache.insert(k, image);
    return result;
}

QIcon FileIconCache::systemIcon(const QString &path, bool isDirectory,
                                const QString &extension) const
{
    if (isDirectory) {
        const QIcon folder = QIcon::fromTheme(u"folder"_s);
        return folder.isNull() ? Icons::symbol(u"folder.fill"_s, Palette::teal()) : folder;
    }
    QMimeType type;
    if (!extension.isEmpty()) {
        // Known types of the extension; an unknown extension falls through to the file itself.
        const QList<QMimeType> types = m_mimes.mimeTypesForFileName(u"x."_s + extension);
        if (!types.isEmpty())
            type = types.constFirst();
    }
    if (!type.isValid())
        type = m_mimes.mimeTypeForFile(path);
    for (const QString &name : {type.iconName(), type.genericIconName()}) {
        const QIcon themed = QIcon::fromTheme(name);
        if (!themed.isNull())
            return themed;
    }
    return Icons::symbol(u"doc.fill"_s, Palette::muted());
}

} // namespace Tarnwick
