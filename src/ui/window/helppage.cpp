#include "window/helppage.h"

#include "desktop.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

using namespace Qt::StringLiterals;

// The guide lives in a static library: its resource must be registered by hand.
static void registerGuide()
{
    Q_INIT_RESOURCE(guide);
}

namespace Tarnwick::HelpPage {

QString resourcePath()
{
    static const bool registered = (registerGuide(), true);
    Q_UNUSED(registered);
    return u":/HUONG_DAN.html"_s;
}

bool open(Desktop &desktop)
{
    QFile page(resourcePath());
    if (!page.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = page.readAll();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return false;
    // An older copy goes first: it may be read-only (copies of resources keep their read-only
    // mode), which would stop the new one from taking its place.
    const QString path = QDir(folder).filePath(u"HUONG_DAN.html"_s);
    QFile::remove(path);
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit())
        return false;
    desktop.openUrl(QUrl::fromLocalFile(copy.fileName()));
    return true;
}

} // namespace Tarnwick::HelpPage
