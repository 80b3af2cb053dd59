#include "ui/fileiconcache.h"
#include "ui/icons.h"
#include "ui/localfiletablemodel.h"
#include "ui/palette.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QMimeData>
#include <QRegularExpression>
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

} // namespace
