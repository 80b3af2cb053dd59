#include "records/byteformat.h"
#include "records/diskspaceutilities.h"
#include "support/qtprinters.h"

#include <QDir>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

TEST(ByteFormat, unitsDecimalsAndTrailingZeros)
{
    EXPECT_EQ(formatByteCount(0), u"0 byte"_s);
    EXPECT_EQ(formatByteCount(1), u"1 byte"_s);
    EXPECT_EQ(formatByteCount(999), u"999 byte"_s);
    EXPECT_EQ(formatByteCount(1000), u"1 KB"_s);
    EXPECT_EQ(formatByteCount(12'345), u"12 KB"_s);
    EXPECT_EQ(formatByteCount(1'500'000), u"1.5 MB"_s);
    EXPECT_EQ(formatByteCount(2'000'000), u"2 MB"_s);
    EXPECT_EQ(formatByteCount(2'000'000'000), u"2 GB"_s);
    EXPECT_EQ(formatByteCount(1'234'567'890), u"1.23 GB"_s);
    EXPECT_EQ(formatByteCount(1'205'000'000), u"1.21 GB"_s); // half rounds up
    EXPECT_EQ(formatByteCount(1'200'000'000), u"1.2 GB"_s);
    EXPECT_EQ(formatByteCount(1'050'000'000'000), u"1.05 TB"_s);
    EXPECT_EQ(formatByteCount(1'005'000), u"1 MB"_s); // 1.005 rounds to 1.0, not "1.0"
}

TEST(ByteFormat, roundingToAThousandMovesToTheNextUnit)
{
    EXPECT_EQ(formatByteCount(999'499), u"999 KB"_s);
    EXPECT_EQ(formatByteCount(999'500), u"1 MB"_s);
    EXPECT_EQ(formatByteCount(999'999), u"1 MB"_s);
    EXPECT_EQ(formatByteCount(999'950'000), u"1 GB"_s);
    EXPECT_EQ(formatByteCount(999'949'999), u"999.9 MB"_s);
}

TEST(ByteFormat, extremesAndNegativesStayExact)
{
    EXPECT_EQ(formatByteCount(-1), u"-1 byte"_s);
    EXPECT_EQ(formatByteCount(-1'500'000), u"-1.5 MB"_s);
    EXPECT_EQ(formatByteCount(std::numeric_limits<qint64>::max()), u"9.22 EB"_s);
    EXPECT_EQ(formatByteCount(std::numeric_limits<qint64>::min()), u"-9.22 EB"_s);
}

TEST(ByteFormat, ignoresTheProcessLocale)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Vietnamese, QLocale::Vietnam));
    const QString text = formatByteCount(1'234'567'890);
    QLocale::setDefault(saved);
    EXPECT_EQ(text, u"1.23 GB"_s);
}

TEST(FormatSpeed, truncatesToWholeBytesAndIsEmptyWithoutSpeed)
{
    EXPECT_EQ(formatSpeed(1'500'000.9), u"1.5 MB/s"_s);
    EXPECT_EQ(formatSpeed(999.99), u"999 byte/s"_s);
    EXPECT_EQ(formatSpeed(0), QString());
    EXPECT_EQ(formatSpeed(-5), QString());
    EXPECT_EQ(formatSpeed(std::nan("")), QString());
    EXPECT_EQ(formatSpeed(std::numeric_limits<double>::infinity()), QString());
    EXPECT_EQ(formatSpeed(1e30), u"9.22 EB/s"_s);
}

TEST(FormatRemainingTime, boundariesOfEachForm)
{
    EXPECT_EQ(formatRemainingTime(0.4), u"còn ~0s"_s);
    EXPECT_EQ(formatRemainingTime(45), u"còn ~45s"_s);
    EXPECT_EQ(formatRemainingTime(59.9), u"còn ~59s"_s);
    EXPECT_EQ(formatRemainingTime(60), u"còn ~1p"_s);
    EXPECT_EQ(formatRemainingTime(200), u"còn ~3p 20s"_s);
    EXPECT_EQ(formatRemainingTime(3599), u"còn ~59p 59s"_s);
    EXPECT_EQ(formatRemainingTime(3600), u"còn ~1h 0p"_s);
    EXPECT_EQ(formatRemainingTime(8100 + 59), u"còn ~2h 15p"_s);
    EXPECT_EQ(formatRemainingTime(360'000), u"còn ~100h 0p"_s);
}

TEST(FormatRemainingTime, emptyUnlessPositiveAndFinite)
{
    EXPECT_EQ(formatRemainingTime(0), QString());
    EXPECT_EQ(formatRemainingTime(-3), QString());
    EXPECT_EQ(formatRemainingTime(std::numeric_limits<double>::infinity()), QString());
    EXPECT_EQ(formatRemainingTime(std::nan("")), QString());
}

TEST(DiskSpaceUtilities, transferSizeByWhatIsKnown)
{
    using DiskSpaceUtilities::formatTransferSize;
    EXPECT_EQ(formatTransferSize(1'500'000, 3'000'000), u"1.5 MB / 3 MB"_s);
    EXPECT_EQ(formatTransferSize(0, 1), u"0 byte / 1 byte"_s);
    EXPECT_EQ(formatTransferSize(12'000, 0), u"12 KB"_s);
    EXPECT_EQ(formatTransferSize(0, 0), u"—"_s);
    EXPECT_EQ(formatTransferSize(-5, -1), u"—"_s);
}

TEST(DiskSpaceUtilities, externalVolumesAreTheMountsUnderMediaAndMnt)
{
    using DiskSpaceUtilities::isExternalVolume;
    for (const QString &external : {u"/media/an/USB"_s, u"/run/media/an/Thẻ nhớ/Ảnh"_s,
                                    u"/mnt/backup"_s, u"/mnt/backup/"_s, u"/media/an"_s})
        EXPECT_TRUE(isExternalVolume(external)) << qPrintable(external);
    for (const QString &internal :
         {u"/home/an/media/x"_s, u"/media"_s, u"/media/"_s, u"/run/media"_s, u"/mnt"_s,
          u"/mediafolder/x"_s, u"/mnt/../home/an"_s, u"media/an/USB"_s, QString()})
        EXPECT_FALSE(isExternalVolume(internal)) << qPrintable(internal);
}

TEST(DiskSpaceUtilities, freeSpaceOfAFolderHomeAndNowhere)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto here = DiskSpaceUtilities::localFreeSpace(dir.path());
    ASSERT_TRUE(here.has_value());
    EXPECT_GE(*here, 0);
    EXPECT_EQ(*here, QStorageInfo(dir.path()).bytesAvailable());

    const auto home = DiskSpaceUtilities::localFreeSpace(std::nullopt);
    ASSERT_TRUE(home.has_value());
    EXPECT_EQ(*home, QStorageInfo(QDir::homePath()).bytesAvailable());

    EXPECT_FALSE(DiskSpaceUtilities::localFreeSpace(dir.path() + u"/missing/deeper"_s));
}
