// The emulator's own parsers and generators, without a server.
#include "api/apierror.h"
#include "api/fieldselection.h"
#include "state/contentblob.h"
#include "state/generatedcontent.h"
#include "api/jsonvalues.h"
#include "api/naturalorder.h"
#include "state/pngimage.h"
#include "api/searchquery.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtEndian>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;

namespace {

class Item final : public SearchQuery::Subject
{
public:
    QString name = u"Báo cáo.pdf"_s;
    QString parent = u"P1"_s;
    bool trashed = false;
    QDateTime modified = QDateTime(QDate(2024, 5, 1), QTime(8, 30), Qt::UTC);

    QString text(SearchQuery::Field f) const override
    {
        return f == SearchQuery::Field::Name ? name : u"application/pdf"_s;
    }
    bool flag(SearchQuery::Field f) const override
    {
        return f == SearchQuery::Field::Trashed ? trashed : false;
    }
    std::optional<QDateTime> time(SearchQuery::Field) const override { return modified; }
    bool inCollection(SearchQuery::Field f, const QString &v) const override
    {
        return f == SearchQuery::Field::Parents && v == parent;
    }
};

QString rejected(const QString &text, const FieldSchema &schema)
{
    try {
        FieldSelection::parse(text, schema);
    } catch (const ApiError &e) {
        return e.message;
    }
    return {};
}

} // namespace

TEST(SearchQueryTest, ReadsTheClientsFormsWithEscapes)
{
    Item item;
    item.parent = u"O'Neil\\x"_s;
    const SearchQuery q = SearchQuery::parse(u"'O\\'Neil\\\\x' in parents and trashed = false"_s);
    EXPECT_EQ(q.requiredParent(), u"O'Neil\\x"_s);
    EXPECT_TRUE(q.matches(item));
    item.trashed = true;
    EXPECT_FALSE(q.matches(item));

    const SearchQuery shared = SearchQuery::parse(u"sharedWithMe = true and trashed = false"_s);
    EXPECT_TRUE(shared.requiresSharedWithMe());
    EXPECT_FALSE(shared.requiredParent().has_value());
}

TEST(SearchQueryTest, CombinesTermsWithPrecedence)
{
    Item item;
    auto matches = [&](const QString &q) { return SearchQuery::parse(q).matches(item); };
    EXPECT_TRUE(matches(u"name contains 'báo' and mimeType = 'application/pdf'"_s))
        << "contains ignores case";
    EXPECT_TRUE(matches(u"name = 'x' or 'P1' in parents and not trashed = true"_s))
        << "and binds tighter";
    EXPECT_FALSE(matches(u"(name = 'x' or 'P1' in parents) and trashed = true"_s));
    EXPECT_TRUE(matches(
        u"modifiedTime > '2024-05-01T08:00:00' AND modifiedTime < '2024-05-01T09:00:00Z'"_s));
    EXPECT_FALSE(matches(u"not 'P1' in parents"_s));
    // An or at the top does not constrain the parent.
    EXPECT_FALSE(
        SearchQuery::parse(u"'A' in parents or 'B' in parents"_s).requiredParent().has_value());
    EXPECT_TRUE(SearchQuery::parse(QString()).matches(item));
}

TEST(SearchQueryTest, RejectsMalformedQueries)
{
    for (const QString &q :
         {u"'a' in parents and"_s, u"name = 'open"_s, u"name = 'bad \\n escape'"_s,
          u"trashed = 'false'"_s, u"trashed > false"_s, u"name < 'b'"_s, u"'x' in name"_s,
          u"modifiedTime > 'yesterday'"_s, u"(name = 'a'"_s, u"name = \"double\""_s,
          u"size > '5'"_s, u"name contains 'a' trashed = false"_s, u"name == 'x'"_s,
          u"trashed == false"_s, QString(100'000, u'(') + u"trashed = false"_s,
          QString(10'000, u' ').replace(u" "_s, u"not "_s) + u"trashed = false"_s}) {
        try {
            SearchQuery::parse(q);
            ADD_FAILURE() << "accepted: " << qPrintable(q);
        } catch (const ApiError &e) {
            EXPECT_EQ(e.status, 400);
            EXPECT_EQ(e.location, u"q"_s);
        }
    }
}

TEST(FieldSelectionTest, ParsesNestedSelections)
{
    const FieldSelection s = FieldSelection::parse(
        u"nextPageToken,files(id,name,capabilities(canEdit,canTrash),owners/emailAddress)"_s,
        Schemas::fileList());
    EXPECT_TRUE(s.wants(u"nextPageToken"_s));
    EXPECT_FALSE(s.wants(u"kind"_s));
    const FieldSelection files = s.sub(u"files"_s);
    EXPECT_TRUE(files.wants(u"name"_s));
    EXPECT_FALSE(files.wants(u"size"_s));
    EXPECT_TRUE(files.sub(u"capabilities"_s).wants(u"canTrash"_s));
    EXPECT_FALSE(files.sub(u"capabilities"_s).wants(u"canDownload"_s));
    EXPECT_TRUE(files.sub(u"owners"_s).wants(u"emailAddress"_s));
    EXPECT_FALSE(files.sub(u"owners"_s).wants(u"displayName"_s));

    // A name alone, and "*", select everything below.
    EXPECT_TRUE(FieldSelection::parse(u"files"_s, Schemas::fileList())
                    .sub(u"files"_s)
                    .wants(u"md5Checksum"_s));
    EXPECT_TRUE(
        FieldSelection::parse(u"files(*)"_s, Schemas::fileList()).sub(u"files"_s).includesAll());
    // Repeated mentions merge.
    const FieldSelection merged =
        FieldSelection::parse(u"files(id),files(name)"_s, Schemas::fileList());
    EXPECT_TRUE(merged.sub(u"files"_s).wants(u"id"_s));
    EXPECT_TRUE(merged.sub(u"files"_s).wants(u"name"_s));
    // Open maps accept any key.
    EXPECT_TRUE(
        FieldSelection::parse(u"properties(anything)"_s, Schemas::file()).wants(u"properties"_s));
}

TEST(FieldSelectionTest, NamesTheFirstBadPart)
{
    EXPECT_EQ(rejected(u"files(id,colour)"_s, Schemas::fileList()),
              u"Invalid field selection colour"_s);
    EXPECT_EQ(rejected(u"name(first)"_s, Schemas::file()), u"Invalid field selection name"_s)
        << "scalars have no parts";
    EXPECT_EQ(rejected(u"capabilities(canFly)"_s, Schemas::file()),
              u"Invalid field selection canFly"_s);
    EXPECT_FALSE(rejected(u"files(id"_s, Schemas::fileList()).isEmpty());
    EXPECT_FALSE(rejected(u""_s, Schemas::fileList()).isEmpty());
    EXPECT_FALSE(rejected(u"id,,name"_s, Schemas::file()).isEmpty());
    EXPECT_TRUE(
        rejected(u"user(displayName,emailAddress),storageQuota(limit,usage)"_s, Schemas::about())
            .isEmpty());
}

TEST(JsonValuesTest, IntegersFromNumbersOrDigitStrings)
{
    EXPECT_EQ(jsonInteger(QJsonValue(42), 0), 42);
    EXPECT_EQ(jsonInteger(u"9007199254740993"_s, 0), 9007199254740993LL)
        << "a string keeps what a double would round";
    EXPECT_EQ(jsonInteger(QJsonValue(), 7), 7);
    EXPECT_EQ(jsonInteger(QJsonValue(QJsonValue::Undefined), -1), -1);
    EXPECT_EQ(jsonInteger(u"12kB"_s, 0), std::nullopt);
    EXPECT_EQ(jsonInteger(QJsonValue(true), 0), std::nullopt);
}

TEST(NaturalOrderTest, DigitsByValueAccentsAndCaseLater)
{
    QStringList names{u"file10"_s, u"File2"_s,   u"file1"_s, u"Ảnh"_s,   u"anh"_s,
                      u"Đà Lạt"_s, u"da nang"_s, u"b"_s,     u"file02"_s};
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return naturalCompare(a, b) < 0; });
    EXPECT_EQ(names, (QStringList{u"anh"_s, u"Ảnh"_s, u"b"_s, u"Đà Lạt"_s, u"da nang"_s, u"file1"_s,
                                  u"File2"_s, u"file02"_s, u"file10"_s}));
    EXPECT_NE(naturalCompare(u"a"_s, u"A"_s), 0) << "the order is total";
    EXPECT_EQ(naturalCompare(u"x"_s, u"x"_s), 0);
}

// std::sort relies on the order having no cycles; digits of other scripts once made one.
TEST(NaturalOrderTest, OrderIsConsistentAcrossEveryTriple)
{
    const QStringList names{u"10"_s,  u"a"_s,       u"\u0662"_s, u"2"_s,   u"\u0661\u0660"_s,
                            u"a10"_s, u"a\u0662"_s, u"a2"_s,     u"A02"_s, u"!"_s,
                            u"~"_s,   u"010"_s,     u"Ảnh"_s,    u"anh"_s, u"Đ9"_s,
                            u"d10"_s, u"\uFF11"_s,  u""_s};
    const auto sign = [](int c) { return (c > 0) - (c < 0); };
    for (const QString &a : names) {
        for (const QString &b : names) {
            ASSERT_EQ(sign(naturalCompare(a, b)), -sign(naturalCompare(b, a)))
                << qPrintable(a) << " " << qPrintable(b);
            for (const QString &c : names) {
                if (naturalCompare(a, b) < 0 && naturalCompare(b, c) < 0) {
                    ASSERT_LT(naturalCompare(a, c), 0)
                        << qPrintable(a) << " < " << qPrintable(b) << " < " << qPrintable(c);
                }
            }
        }
    }
    EXPECT_LT(naturalCompare(u"2"_s, u"10"_s), 0);
}

TEST(GeneratedContentTest, AnyRangeMatchesTheWhole)
{
    const QByteArray whole = GeneratedContent::bytes(77, 0, 4096);
    for (const auto &[offset, length] :
         {std::pair{0, 1}, {3, 5}, {7, 9}, {8, 8}, {1001, 2000}, {4095, 1}})
        EXPECT_EQ(GeneratedContent::bytes(77, offset, length), whole.mid(offset, length)) << offset;
    EXPECT_NE(GeneratedContent::bytes(78, 0, 64), whole.left(64));
    EXPECT_EQ(GeneratedContent::bytes(77, qint64(10) << 30, 16),
              GeneratedContent::bytes(77, qint64(10) << 30, 16));
}

TEST(PngImageTest, ThumbnailsAreWellFormedPngs)
{
    const QByteArray png =
        PngImage::thumbnail(220, 165, 0xf6a85c, 0x3b5b8c, PngImage::Motif::Photo);
    ASSERT_GT(png.size(), 33);
    EXPECT_EQ(png.left(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.mid(12, 4), "IHDR");
    EXPECT_EQ(qFromBigEndian<quint32>(png.constData() + 16), 220u);
    EXPECT_EQ(qFromBigEndian<quint32>(png.constData() + 20), 165u);
    // The pixel data inflates to one filter byte plus 3 bytes per pixel for every row.
    const qsizetype idat = png.indexOf("IDAT");
    const quint32 length = qFromBigEndian<quint32>(png.constData() + idat - 4);
    QByteArray zlib = png.mid(idat + 4, length);
    const quint32 expected = (220 * 3 + 1) * 165;
    const quint32 be = qToBigEndian(expected);
    zlib.prepend(reinterpret_cast<const char *>(&be), 4);
    EXPECT_EQ(quint32(qUncompress(zlib).size()), expected);
    EXPECT_TRUE(png.endsWith(QByteArray("IEND\xae\x42\x60\x82", 8)));
}

// A checksum is of the whole content or none: a read that falls short (the file not all there
// yet) must not leave the digest of a prefix behind for every later answer.
TEST(ContentBlobs, ADigestOfAShortReadIsNeitherGivenNorKept)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"blob.bin"_s);
    const QByteArray whole(100'000, 'w');
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(whole.left(40'000));
    file.flush();
    const Blob blob = ContentBlob::stored(path, whole.size(), false);
    EXPECT_TRUE(blob->md5Hex().isEmpty());
    file.write(whole.mid(40'000));
    file.close();
    EXPECT_EQ(blob->md5Hex(),
              QString::fromLatin1(QCryptographicHash::hash(whole, QCryptographicHash::Md5).toHex()));
}

