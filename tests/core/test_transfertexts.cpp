#include "records/byteformat.h"
#include "records/diskspaceutilities.h"
#include "records/displaytext.h"
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
    // Other processes write meanwhile: the two readings agree to within a little.
    EXPECT_NEAR(double(*here), double(QStorageInfo(dir.path()).bytesAvailable()), 256.0 * 1024 * 1024);

    const auto home = DiskSpaceUtilities::localFreeSpace(std::nullopt);
    ASSERT_TRUE(home.has_value());
    EXPECT_NEAR(double(*home), double(QStorageInfo(QDir::homePath()).bytesAvailable()),
                256.0 * 1024 * 1024);

    EXPECT_FALSE(DiskSpaceUtilities::localFreeSpace(dir.path() + u"/missing/deeper"_s));
}

TEST(DisplayText, invisibleControlsBecomeVisibleSoNoExtensionIsDisguised)
{
    using DisplayText::shown;
    // Read right to left after the override, this would look like "rloexe.txt".
    EXPECT_EQ(shown(u"rlo\u202Etxt.exe"_s), u"rlo[U+202E]txt.exe"_s);
    for (const char16_t control :
         {u'\u202A', u'\u202B', u'\u202C', u'\u202D', u'\u2066', u'\u2067', u'\u2068', u'\u2069',
          u'\u200E', u'\u200F', u'\u061C', u'\u2028', u'\n', u'\t', u'\u0085'}) {
        const QString name = u"a"_s + QChar(control) + u"b.pdf"_s;
        const QString text = shown(name);
        EXPECT_FALSE(text.contains(QChar(control))) << text.toStdString();
        EXPECT_TRUE(text.startsWith(u"a[U+"_s)) << text.toStdString();
    }
    // Letters of either direction, markup and plain names stay as they are.
    for (const QString &name : {u"Báo cáo quý 3.pdf"_s, u"تقرير.pdf"_s, u"דוח.txt"_s,
                                u"<h1 style='color:red'>X</h1>"_s, QString()})
        EXPECT_EQ(shown(name), name);
}

TEST(DisplayText, messagesKeepTheirLineBreaksButNotTheControlsOfWhatTheyQuote)
{
    using DisplayText::message;
    EXPECT_EQ(message(u"Dòng một\nDòng hai"_s), u"Dòng một\nDòng hai"_s);
    EXPECT_EQ(message(u"Không tải được rlo\u202Etxt.exe\n\tlý do"_s),
              u"Không tải được rlo[U+202E]txt.exe\n[U+0009]lý do"_s);
    const QString huge = QString(5000, u'x') + u"\n\u202E"_s;
    EXPECT_EQ(message(huge).size(), DisplayText::messageLimit + 7);
    EXPECT_TRUE(message(huge).endsWith(u"x\n[U+202E]"_s));
}

TEST(DisplayText, longNamesKeepTheirStartAndExtensionAroundAnEllipsis)
{
    using DisplayText::shown;
    const QString huge = QString(10'000'000, u'a') + u"\u202Etxt.exe"_s;
    const QString text = shown(huge);
    EXPECT_LE(text.size(), DisplayText::nameLimit + 8);
    EXPECT_TRUE(text.startsWith(u"aaaa"_s));
    EXPECT_TRUE(text.contains(u'…'));
    EXPECT_TRUE(text.endsWith(u"a[U+202E]txt.exe"_s)) << text.right(30).toStdString();
    EXPECT_EQ(shown(huge, DisplayText::messageLimit).size(), DisplayText::messageLimit + 7);

    // Exactly at the limit nothing is cut.
    const QString full(DisplayText::nameLimit, u'x');
    EXPECT_EQ(shown(full), full);

    // A character outside the basic plane at either cut stays whole or goes whole.
    const QString emoji = u"😀"_s;
    QString pairs;
    while (pairs.size() < 2000)
        pairs += emoji;
    for (const qsizetype limit : {qsizetype(100), qsizetype(101), qsizetype(255)}) {
        const QString cut = shown(pairs, limit);
        EXPECT_LE(cut.size(), limit);
        for (qsizetype i = 0; i < cut.size(); ++i) {
            if (cut.at(i).isHighSurrogate()) {
                EXPECT_TRUE(i + 1 < cut.size() && cut.at(i + 1).isLowSurrogate()) << limit;
            }
            if (cut.at(i).isLowSurrogate()) {
                EXPECT_TRUE(i > 0 && cut.at(i - 1).isHighSurrogate()) << limit;
            }
        }
    }
}
