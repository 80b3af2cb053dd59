#include "common/fileiconcache.h"
#include "common/icons.h"
#include "tables/localfiletablemodel.h"
#include "common/palette.h"
#include "sheets/previewwindow.h"
#include "desktop/qtdesktop.h"

#include "support/testsupport.h"

#include "async/runsync.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using Tarnwick::FileIconCache;
using Tarnwick::LocalFile;
using Tarnwick::LocalFileTableModel;

namespace {

QList<LocalFile> sampleRows()
{
    const QDateTime when = QDateTime(QDate(2024, 5, 1), QTime(8, 30), Qt::LocalTime);
    return {
        {u"/data/Ảnh"_s, true, 0, when},
        {u"/data/report.pdf"_s, false, 1'500'000, when},
        {u"/data/notes"_s, false, 999, std::nullopt},
    };
}

TEST(LocalFileTable, PassesTheItemModelTesterThroughResets)
{
    LocalFileTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setFiles(sampleRows());
    EXPECT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 3);
    model.setFiles({});
    EXPECT_EQ(model.rowCount(), 0);
    model.setFiles(sampleRows());
    EXPECT_EQ(model.rowOf(u"/data/notes"_s), 2);
    EXPECT_EQ(model.rowOf(u"/elsewhere"_s), -1);
}

TEST(LocalFileTable, ShowsDatesSizesAndDashes)
{
    LocalFileTableModel model;
    model.setFiles(sampleRows());
    auto text = [&](int row, int column) { return model.index(row, column).data().toString(); };
    EXPECT_EQ(text(0, LocalFileTableModel::NameColumn), u"Ảnh"_s);
    EXPECT_EQ(text(0, LocalFileTableModel::ModifiedColumn), u"01/05/24 08:30"_s);
    EXPECT_EQ(text(0, LocalFileTableModel::SizeColumn), u"—"_s);
    EXPECT_EQ(text(1, LocalFileTableModel::SizeColumn), u"1.5 MB"_s);
    EXPECT_EQ(text(2, LocalFileTableModel::ModifiedColumn), u"—"_s);
    EXPECT_EQ(text(2, LocalFileTableModel::SizeColumn), u"999 byte"_s);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), u"Tên"_s);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), u"Ngày sửa"_s);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), u"Dung lượng"_s);
    EXPECT_TRUE(model.index(0, 0).data(LocalFileTableModel::IsFolderRole).toBool());
}

TEST(LocalFileTable, DragsCarryFileUrlsOncePerRow)
{
    LocalFileTableModel model;
    model.setFiles(sampleRows());
    std::unique_ptr<QMimeData> mime(
        model.mimeData({model.index(1, 0), model.index(1, 1), model.index(1, 2)}));
    ASSERT_TRUE(mime);
    EXPECT_EQ(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(u"/data/report.pdf"_s)});
}

TEST(LocalFileTable, SelectionByKeysCoversWholeRowsInRunsAndReadsBackTheKeys)
{
    LocalFileTableModel model;
    model.setFiles(sampleRows());
    const int lastColumn = LocalFileTableModel::ColumnCount - 1;

    // Rows 0 and 2 are apart: two ranges; a key that is not shown selects nothing.
    const QItemSelection apart =
        model.selectionOf({u"/data/notes"_s, u"/elsewhere"_s, u"/data/Ảnh"_s});
    ASSERT_EQ(apart.size(), 2);
    EXPECT_EQ(apart.at(0), QItemSelectionRange(model.index(0, 0), model.index(0, lastColumn)));
    EXPECT_EQ(apart.at(1), QItemSelectionRange(model.index(2, 0), model.index(2, lastColumn)));

    // Adjacent rows make one range.
    const QItemSelection adjacent = model.selectionOf({u"/data/report.pdf"_s, u"/data/notes"_s});
    ASSERT_EQ(adjacent.size(), 1);
    EXPECT_EQ(adjacent.at(0), QItemSelectionRange(model.index(1, 0), model.index(2, lastColumn)));

    EXPECT_EQ(model.keysOf({model.index(2, 0), model.index(0, 0)}),
              (QSet<QString>{u"/data/notes"_s, u"/data/Ảnh"_s}));
    EXPECT_TRUE(model.selectionOf({}).isEmpty());
}

TEST(FileIcons, FilesOfOneExtensionShareOneCachedIcon)
{
    FileIconCache &cache = FileIconCache::shared();
    cache.clear();
    const QPixmap upper = cache.icon(u"/x/a.PDF"_s, false);
    const QPixmap lower = cache.icon(u"/y/b.pdf"_s, false);
    EXPECT_EQ(cache.count(), 1);
    EXPECT_TRUE(cache.contains(u"pdf"_s));
    EXPECT_EQ(upper.cacheKey(), lower.cacheKey());
    EXPECT_EQ(upper.deviceIndependentSize().toSize(), QSize(22, 22));

    cache.icon(u"/x/folder.pdf"_s, true); // a folder whose name has a dot is still a folder
    EXPECT_TRUE(cache.contains(u"___directory___"_s));
    EXPECT_EQ(FileIconCache::key(u"/x/Makefile"_s, false), QString());
    EXPECT_EQ(cache.count(), 2);
}

TEST(FileIcons, CacheKeepsAtMostItsLimit)
{
    FileIconCache &cache = FileIconCache::shared();
    cache.clear();
    for (int i = 0; i < FileIconCache::limit + 30; ++i)
        cache.icon(u"/x/f.ext"_s + QString::number(i), false);
    EXPECT_EQ(cache.count(), FileIconCache::limit);
}

TEST(Symbols, EverySymbolDrawsVisiblePixels)
{
    for (const QString &name : Tarnwick::Icons::knownSymbols()) {
        const QIcon icon = Tarnwick::Icons::symbol(name, Tarnwick::Palette::teal());
        ASSERT_FALSE(icon.isNull()) << qPrintable(name);
        const QImage image = icon.pixmap(QSize(22, 22)).toImage();
        int painted = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                painted += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        EXPECT_GT(painted, 8) << qPrintable(name);
        EXPECT_FALSE(Tarnwick::Icons::themeName(name).isEmpty()) << qPrintable(name);
    }
}

TEST(Preview, ReadsImagesAndTextAndLeavesOtherFilesToTheirApplication)
{
    QTemporaryDir dir;
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath(u"red.png"_s)));
    Tarnwick::Testing::writeFile(dir.filePath(u"notes.txt"_s), "Xin chào\n");
    Tarnwick::Testing::writeFile(dir.filePath(u"big.log"_s), QByteArray(600 * 1024, 'x'));
    Tarnwick::Testing::writeFile(dir.filePath(u"blob.bin"_s), QByteArray("\x00\x01\x02\xff", 4));

    const auto image = Tarnwick::PreviewWindow::load(dir.filePath(u"red.png"_s));
    EXPECT_EQ(image.image.size(), QSize(300, 200));
    const auto text = Tarnwick::PreviewWindow::load(dir.filePath(u"notes.txt"_s));
    EXPECT_EQ(text.text, u"Xin chào\n"_s);
    EXPECT_FALSE(text.truncated);
    const auto log = Tarnwick::PreviewWindow::load(dir.filePath(u"big.log"_s));
    EXPECT_TRUE(log.truncated);
    EXPECT_LT(log.text.size(), 600 * 1024);
    const auto blob = Tarnwick::PreviewWindow::load(dir.filePath(u"blob.bin"_s));
    EXPECT_TRUE(blob.image.isNull());
    EXPECT_TRUE(blob.text.isEmpty());

    // A small picture is shown at its own size; a huge one is reduced to fit the window.
    Tarnwick::PreviewWindow window;
    window.setAttribute(Qt::WA_DeleteOnClose, false);
    window.showContent(dir.filePath(u"red.png"_s), image);
    QCoreApplication::processEvents();
    EXPECT_EQ(window.imageLabel()->pixmap().deviceIndependentSize().toSize(), QSize(300, 200));
    Tarnwick::PreviewWindow::Content huge;
    huge.image = QImage(4000, 1000, QImage::Format_RGB32);
    huge.image.fill(Qt::blue);
    window.showContent(dir.filePath(u"huge.png"_s), huge);
    QCoreApplication::processEvents();
    const QSize shown = window.imageLabel()->pixmap().deviceIndependentSize().toSize();
    EXPECT_LE(shown.width(), window.width());
    EXPECT_GE(shown.width(), window.width() - 2);
    window.close();
}

TEST(Preview, DesktopShowsItsOwnWindowForText)
{
    QTemporaryDir dir;
    const QString path = Tarnwick::Testing::writeFile(dir.filePath(u"notes.txt"_s), "một hai ba");
    Tarnwick::QtDesktop desktop;
    desktop.preview(path);
    ASSERT_TRUE(Tarnwick::Testing::waitUntil(
        [&] { return desktop.previewWindow() && desktop.previewWindow()->isVisible(); }));
    EXPECT_EQ(desktop.previewWindow()->path(), path);
    EXPECT_EQ(desktop.previewWindow()->windowTitle(), u"notes.txt"_s);
}

// A tall picture opened from a window lands centred over it and whole on the screen.
TEST(Preview, OpensOverItsWindowAndWholeOnTheScreen)
{
    QWidget owner;
    const QRect area = owner.screen()->availableGeometry();
    owner.setGeometry(QRect(area.left() + area.width() / 4, area.top() + area.height() / 4,
                            area.width() / 2, area.height() / 2));
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    auto *window = new Tarnwick::PreviewWindow(&owner);
    Tarnwick::PreviewWindow::Content tall;
    tall.image = QImage(900, 4000, QImage::Format_RGB32);
    tall.image.fill(Qt::green);
    window->showContent(u"/tmp/tall.png"_s, tall);
    QCoreApplication::processEvents();
    EXPECT_TRUE(area.contains(window->geometry())) << window->geometry().y() << "+"
                                                  << window->geometry().height();
    EXPECT_LE((window->geometry().center() - owner.geometry().center()).manhattanLength(), 40);
    window->close();
}

TEST(DesktopServices, FolderPickerAnswersWithTheChosenFolderOrNothing)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(u"picked"_s);
    Tarnwick::QtDesktop desktop;
    auto pick = [&](bool accept) {
        auto asking = desktop.chooseFolder({u"Chọn thư mục"_s, u"Chọn đi"_s, dir.path()});
        QFileDialog *dialog = nullptr;
        EXPECT_TRUE(Tarnwick::Testing::waitUntil([&] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
                    dialog = d;
            }
            return dialog != nullptr;
        }));
        EXPECT_EQ(dialog->labelText(QFileDialog::Accept), u"Chọn thư mục"_s);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        dialog->selectFile(dir.path() + u"/picked"_s);
        if (accept)
            static_cast<QDialog *>(dialog)->accept(); // QFileDialog checks the choice
        else
            dialog->reject();
        return Tarnwick::runSync(std::move(asking));
    };
    EXPECT_EQ(pick(true), dir.path() + u"/picked"_s);
    EXPECT_EQ(pick(false), std::nullopt);
}

TEST(DesktopServices, NotificationsNeverWaitForAMissingService)
{
    // The test session has a bus but no notification daemon: posting must return at once.
    Tarnwick::QtDesktop desktop;
    QElapsedTimer timer;
    timer.start();
    desktop.postNotification({u"Tải xuống hoàn tất"_s, u"a.txt"_s, u"/tmp/a.txt"_s});
    desktop.postNotification({u"Tải lên hoàn tất"_s, u"b.txt"_s, std::nullopt});
    EXPECT_LT(timer.elapsed(), 200);
    QTest::qWait(50); // the failed replies arrive and are dropped
}

// A notification server on the test's session bus that reads markup in bodies, as GNOME's and
// KDE's do, and keeps every body it is sent.
class MarkupNotificationServer final : public QDBusVirtualObject
{
public:
    QStringList bodies;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() == u"GetCapabilities"_s) {
            connection.send(
                message.createReply(QVariant(QStringList{u"body"_s, u"body-markup"_s})));
            return true;
        }
        if (message.member() == u"Notify"_s && message.arguments().size() == 8) {
            bodies.append(message.arguments().at(4).toString());
            connection.send(message.createReply(QVariant(uint(bodies.size()))));
            return true;
        }
        return false;
    }
};

TEST(DesktopServices, ANameInANotificationBodyIsNeverMarkup)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    MarkupNotificationServer server;
    ASSERT_TRUE(bus.registerVirtualObject(u"/org/freedesktop/Notifications"_s, &server));
    ASSERT_TRUE(bus.registerService(u"org.freedesktop.Notifications"_s));

    Tarnwick::QtDesktop desktop;
    const QString body = u"Đã tải về thành công <img src='/usr/share/pixmaps/x.png'> & co (1 KB)"_s;
    desktop.postNotification({u"Tải xuống hoàn tất"_s, body, std::nullopt});
    desktop.postNotification({u"Tải xuống hoàn tất"_s, body, std::nullopt});
    EXPECT_TRUE(Tarnwick::Testing::waitUntil([&] { return server.bodies.size() == 2; }));
    for (const QString &sent : server.bodies)
        EXPECT_EQ(sent, body.toHtmlEscaped());

    bus.unregisterService(u"org.freedesktop.Notifications"_s);
    bus.unregisterObject(u"/org/freedesktop/Notifications"_s);
}

} // namespace
