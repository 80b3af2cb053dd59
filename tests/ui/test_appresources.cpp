// The program's own resources as the user meets them: the guide behind the Help menu and the
// application icon.

#include "common/icons.h"
#include "window/helppage.h"
#include "window/mainwindow.h"

#include "appmodel.h"
#include "support/scripteddesktop.h"
#include "support/testsupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using Tarnwick::Testing::ScriptedDesktop;
using Tarnwick::Testing::writeFile;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QAction *menuEntry(MainWindow &window, const QString &menuTitle, const QString &text)
{
    for (QAction *top : window.menuBar()->actions()) {
        if (top->text().remove(u'&') != menuTitle || !top->menu())
            continue;
        for (QAction *action : top->menu()->actions()) {
            if (action->text() == text)
                return action;
        }
    }
    return nullptr;
}

// Points the program's cache folder at a folder of the test for as long as it lives.
class CacheHome final
{
public:
    explicit CacheHome(const QString &path)
        : m_old(qgetenv("XDG_CACHE_HOME"))
    {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(path));
    }
    ~CacheHome() { qputenv("XDG_CACHE_HOME", m_old); }

private:
    QByteArray m_old;
};

TEST(HelpEntry, OpensAFreshCopyOfTheGuideFromTheCacheFolderEachTime)
{
    QTemporaryDir cache;
    CacheHome home(cache.path());
    ScriptedDesktop desktop;
    AppModel model(&desktop);
    MainWindow window(&model);
    QAction *help = menuEntry(window, u"Trợ giúp"_s, u"Hướng dẫn kết nối Google Drive"_s);
    ASSERT_TRUE(help);
    EXPECT_TRUE(help->isEnabled());
    const QByteArray guide = readAll(HelpPage::resourcePath());
    ASSERT_FALSE(guide.isEmpty());

    help->trigger();
    ASSERT_EQ(desktop.openedUrls.size(), 1);
    const QUrl url = desktop.openedUrls.constFirst();
    ASSERT_TRUE(url.isLocalFile());
    const QString copy = url.toLocalFile();
    EXPECT_TRUE(copy.startsWith(cache.path() + u'/')) << qPrintable(copy);
    EXPECT_EQ(readAll(copy), guide);

    // A copy left behind by an older version is replaced by this program's guide.
    writeFile(copy, "<p>an older guide</p>");
    help->trigger();
    ASSERT_EQ(desktop.openedUrls.size(), 2);
    EXPECT_EQ(desktop.openedUrls.at(1), url);
    EXPECT_EQ(readAll(copy), guide);
}

TEST(HelpEntry, OpensNothingWhenTheCopyCannotBeWritten)
{
    QTemporaryDir root;
    // The cache folder's place is taken by a file: no folder can be made there.
    const QString blocked = writeFile(root.path() + u"/cache"_s, "not a folder");
    CacheHome home(blocked);
    ScriptedDesktop desktop;

    EXPECT_FALSE(HelpPage::open(desktop));
    EXPECT_TRUE(desktop.openedUrls.isEmpty());
}

// The guide is read offline in whatever browser the user has: it must stand on its own.
TEST(HelpGuide, IsAVietnamesePageWhoseContentsLeadToItsSectionsAndLoadsNothingRemote)
{
    const QString page = QString::fromUtf8(readAll(HelpPage::resourcePath()));
    ASSERT_FALSE(page.isEmpty());
    EXPECT_TRUE(page.startsWith(u"<!DOCTYPE html>"_s));
    EXPECT_TRUE(page.contains(u"<html lang=\"vi\">"_s));
    EXPECT_TRUE(page.contains(u"<meta charset=\"utf-8\">"_s));
    EXPECT_TRUE(page.contains(u"<title>Hướng dẫn sử dụng Tarnwick</title>"_s));

    QSet<QString> ids;
    for (const auto &m : QRegularExpression(u"\\bid=\"([^\"]+)\""_s).globalMatch(page)) {
        EXPECT_FALSE(ids.contains(m.captured(1))) << "duplicate id " << qPrintable(m.captured(1));
        ids.insert(m.captured(1));
    }
    int internal = 0;
    for (const auto &m : QRegularExpression(u"\\bhref=\"([^\"]*)\""_s).globalMatch(page)) {
        const QString target = m.captured(1);
        if (target.startsWith(u'#')) {
            ++internal;
            EXPECT_TRUE(ids.contains(target.mid(1))) << "no section " << qPrintable(target);
        } else {
            EXPECT_TRUE(target.startsWith(u"https://"_s)) << qPrintable(target);
        }
    }
    EXPECT_GE(internal, 10);
    // The steps a new user needs are sections of their own.
    for (const QString &section : {u"google-cloud"_s, u"nhap-cau-hinh"_s, u"dang-nhap"_s,
                                   u"chuyen-file"_s, u"hang-doi"_s, u"mo-lai"_s})
        EXPECT_TRUE(page.contains(u"<h2 id=\""_s + section + u'"')) << qPrintable(section);
    // Nothing fetched from elsewhere: no scripts, style sheets, images or frames.
    for (const QString &tag :
         {u"<script"_s, u"<link"_s, u"<img"_s, u"<iframe"_s, u"@import"_s, u"url("_s})
        EXPECT_FALSE(page.contains(tag)) << qPrintable(tag);
}

QColor middleOf(const QIcon &icon)
{
    const QImage image = icon.pixmap(QSize(48, 48)).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 6);
}

TEST(ApplicationIcon, IsTheBundledDrawingUnlessTheIconThemeHasTheInstalledOne)
{
    const QColor bundled = middleOf(Icons::applicationIcon());
    // The teal tile.
    EXPECT_GT(bundled.green(), 200);
    EXPECT_GT(bundled.green(), bundled.red() + 60);

    // An icon installed into the hicolor theme under the desktop entry's name takes over.
    QTemporaryDir themes;
    writeFile(themes.path() + u"/hicolor/index.theme"_s,
              "[Icon Theme]\nName=Hicolor\nDirectories=48x48/apps\n\n"
              "[48x48/apps]\nSize=48\nContext=Applications\nType=Fixed\n");
    QDir().mkpath(themes.path() + u"/hicolor/48x48/apps"_s);
    QImage red(48, 48, QImage::Format_ARGB32);
    red.fill(Qt::red);
    ASSERT_TRUE(red.save(themes.path() + u"/hicolor/48x48/apps/"_s +
                         QStringLiteral(TARNWICK_APP_ID) + u".png"_s));
    const QStringList searched = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths(QStringList{themes.path()} + searched);
    const QColor installed = middleOf(Icons::applicationIcon());
    QIcon::setThemeSearchPaths(searched);
    EXPECT_EQ(installed.rgb(), QColor(Qt::red).rgb());
}

} // namespace
