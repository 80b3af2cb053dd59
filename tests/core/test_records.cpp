#include "drive/decodingerror.h"
#include "drive/drivefile.h"
#include "drive/drivepermission.h"
#include "drive/internetdate.h"
#include "records/sortoption.h"
#include "records/uploadsession.h"
#include "support/qtprinters.h"

#include <QJsonDocument>
#include <QSet>
#include <gtest/gtest.h>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

namespace {

DriveFile fileWithType(std::optional<QString> mimeType)
{
    return DriveFile(u"id"_s, u"name"_s, std::move(mimeType));
}

DriveFile fileWithSize(std::optional<QString> size)
{
    DriveFile file(u"id"_s, u"name"_s, std::nullopt);
    file.size = std::move(size);
    return file;
}

DriveFile fileModifiedAt(std::optional<QString> time)
{
    DriveFile file(u"id"_s, u"name"_s, std::nullopt);
    file.modifiedTime = std::move(time);
    return file;
}

DriveFile fullFile()
{
    DriveFile file(u"abc"_s, u"Báo cáo.pdf"_s, u"application/pdf"_s);
    file.size = u"1048576"_s;
    file.modifiedTime = u"2024-05-01T08:30:15.123Z"_s;
    file.webViewLink = u"https://drive.google.com/file/d/abc/view"_s;
    file.thumbnailLink = u"https://lh3.googleusercontent.com/t"_s;
    file.capabilities = DriveFile::Capabilities{true, false, std::nullopt, true};
    return file;
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

} // namespace

TEST(DriveFile, folderAndGoogleDocumentTypes)
{
    const DriveFile folder = fileWithType(u"application/vnd.google-apps.folder"_s);
    EXPECT_TRUE(folder.isFolder());
    EXPECT_FALSE(folder.isGoogleDocument());

    for (const QString &type :
         {u"application/vnd.google-apps.document"_s, u"application/vnd.google-apps.spreadsheet"_s,
          u"application/vnd.google-apps.shortcut"_s, u"application/vnd.google-apps.form"_s}) {
        SCOPED_TRACE(type.toStdString());
        EXPECT_TRUE(fileWithType(type).isGoogleDocument());
        EXPECT_FALSE(fileWithType(type).isFolder());
    }
    for (const std::optional<QString> &type :
         {std::optional<QString>(u"application/pdf"_s), std::optional<QString>(),
          std::optional<QString>(u"application/vnd.google-apps"_s),
          std::optional<QString>(u"Application/vnd.google-apps.folder"_s)}) {
        EXPECT_FALSE(fileWithType(type).isFolder());
        EXPECT_FALSE(fileWithType(type).isGoogleDocument());
    }
}

TEST(DriveFile, bytesAcceptsOnlyStrictDecimalIntegers)
{
    EXPECT_EQ(fileWithSize(u"12345"_s).bytes(), 12345);
    EXPECT_EQ(fileWithSize(u"+7"_s).bytes(), 7);
    EXPECT_EQ(fileWithSize(u"-7"_s).bytes(), -7);
    EXPECT_EQ(fileWithSize(u"9223372036854775807"_s).bytes(), 9223372036854775807LL);
    EXPECT_EQ(fileWithSize(u"-9223372036854775808"_s).bytes(), std::numeric_limits<qint64>::min());
    for (const QString &bad :
         {u""_s, u"12a"_s, u" 12"_s, u"12 "_s, u"1.5"_s, u"+"_s, u"-"_s, u"+-1"_s, u"1,000"_s,
          u"9223372036854775808"_s, u"-9223372036854775809"_s, u"12345678901234567890"_s,
          u"١٢"_s /* Arabic-Indic */}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(fileWithSize(bad).bytes(), 0);
    }
    EXPECT_EQ(fileWithSize(std::nullopt).bytes(), 0);
}

TEST(DriveFile, modifiedDateNeedsAZoneAndFallsBackToTheDistantPast)
{
    EXPECT_EQ(fileModifiedAt(u"2024-05-01T08:30:15.123Z"_s).modifiedDate(),
              utc(2024, 5, 1, 8, 30, 15, 123));
    EXPECT_EQ(fileModifiedAt(u"2024-05-01T08:30:15Z"_s).modifiedDate(), utc(2024, 5, 1, 8, 30, 15));
    EXPECT_EQ(fileModifiedAt(u"2024-05-01T15:30:15+07:00"_s).modifiedDate(),
              utc(2024, 5, 1, 8, 30, 15));
    EXPECT_EQ(fileModifiedAt(u"2024-05-01T08:30:15.1239Z"_s).modifiedDate(),
              utc(2024, 5, 1, 8, 30, 15, 123));

    const QDateTime past = InternetDate::distantPast();
    ASSERT_TRUE(past.isValid());
    for (const QString &bad :
         {u"2024-05-01"_s, u"2024-05-01T08:30:15"_s, u"2024-05-01T08:30:15.123"_s,
          u"2024-02-30T08:30:15Z"_s, u"2024-05-01T24:00:00Z"_s, u"2024-05-01 08:30:15Z"_s,
          u"yesterday"_s, u"２０２４-05-01T08:30:15Z"_s, u""_s}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(fileModifiedAt(bad).modifiedDate(), past);
    }
    EXPECT_EQ(fileModifiedAt(std::nullopt).modifiedDate(), past);
    // Comparisons must work: an undated item sorts before any real date, even an old one.
    EXPECT_LT(past, utc(1601, 1, 1, 0, 0, 0));
    EXPECT_LT(past.toMSecsSinceEpoch(), utc(1601, 1, 1, 0, 0, 0).toMSecsSinceEpoch());
}

TEST(DriveFile, jsonRoundTripKeepsEveryFieldAndOmitsAbsentOnes)
{
    const DriveFile full = fullFile();
    EXPECT_EQ(DriveFile::fromJsonBytes(full.toJsonBytes()), full);

    const DriveFile minimal(u"x"_s, u"y"_s, std::nullopt);
    const QJsonObject json = minimal.toJson();
    EXPECT_EQ(json.keys(), (QStringList{u"id"_s, u"name"_s}));
    EXPECT_EQ(DriveFile::fromJson(json), minimal);

    DriveFile noCapabilityKnown = minimal;
    noCapabilityKnown.capabilities = DriveFile::Capabilities{};
    EXPECT_EQ(noCapabilityKnown.toJson().value("capabilities"_L1).toObject(), QJsonObject());
    EXPECT_EQ(DriveFile::fromJson(noCapabilityKnown.toJson()), noCapabilityKnown);
    EXPECT_NE(noCapabilityKnown, minimal);
}

TEST(DriveFile, decodingKeepsMissingCapabilitiesApartFromFalse)
{
    const DriveFile file = DriveFile::fromJsonBytes(
        R"({"id":"a","name":"b","capabilities":{"canEdit":false,"canTrash":null},"extra":1})");
    ASSERT_TRUE(file.capabilities);
    EXPECT_EQ(file.capabilities->canEdit, std::optional<bool>(false));
    EXPECT_EQ(file.capabilities->canTrash, std::nullopt);
    EXPECT_EQ(file.capabilities->canDownload, std::nullopt);
    EXPECT_EQ(file.capabilities->toJson().keys(), QStringList{u"canEdit"_s});
}

TEST(DriveFile, decodingFailuresThrow)
{
    for (const QByteArray &bad :
         {QByteArray(R"({"name":"b"})"), QByteArray(R"({"id":"a"})"),
          QByteArray(R"({"id":1,"name":"b"})"), QByteArray(R"({"id":"a","name":"b","size":12})"),
          QByteArray(R"({"id":"a","name":"b","capabilities":[]})"),
          QByteArray(R"({"id":"a","name":"b","capabilities":{"canEdit":"yes"}})"),
          QByteArray(R"([{"id":"a","name":"b"}])"), QByteArray("{"), QByteArray()}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_THROW(DriveFile::fromJsonBytes(bad), DecodingError);
    }
}

TEST(DriveFile, equalityAndHashCoverEveryField)
{
    const DriveFile base = fullFile();
    QList<DriveFile> variants;
    for (int i = 0; i < 9; ++i)
        variants.append(base);
    variants[0].id = u"other"_s;
    variants[1].name = u"other"_s;
    variants[2].mimeType.reset();
    variants[3].size = u"1"_s;
    variants[4].modifiedTime.reset();
    variants[5].webViewLink = u""_s;
    variants[6].thumbnailLink.reset();
    variants[7].capabilities->canTrash = false;
    variants[8].capabilities.reset();

    QSet<DriveFile> set{base};
    for (const DriveFile &variant : std::as_const(variants)) {
        EXPECT_NE(variant, base);
        set.insert(variant);
    }
    EXPECT_EQ(set.size(), variants.size() + 1);
    EXPECT_TRUE(set.contains(fullFile()));
    EXPECT_EQ(qHash(fullFile(), 7), qHash(base, 7));
}

TEST(DrivePermission, decodesRequiredAndOptionalMembers)
{
    const DrivePermission permission = DrivePermission::fromJsonBytes(
        R"({"id":"p1","role":"writer","type":"user","emailAddress":"a@b.c","kind":"drive#permission"})");
    EXPECT_EQ(permission, (DrivePermission{u"p1"_s, std::nullopt, u"a@b.c"_s, u"writer"_s,
                                           u"user"_s, std::nullopt}));
    EXPECT_EQ(DrivePermission::fromJson(permission.toJson()), permission);
    EXPECT_FALSE(permission.toJson().contains("displayName"_L1));

    for (const QByteArray &bad :
         {QByteArray(R"({"role":"reader","type":"anyone"})"),
          QByteArray(R"({"id":"p","type":"anyone"})"), QByteArray(R"({"id":"p","role":"reader"})"),
          QByteArray(R"({"id":"p","role":"reader","type":"user","photoLink":5})")}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_THROW(DrivePermission::fromJsonBytes(bad), DecodingError);
    }
    DrivePermission other = permission;
    other.photoLink = u"x"_s;
    EXPECT_NE(other, permission);
    EXPECT_NE(qHash(other), qHash(permission));
}

TEST(UploadSession, storesTheDateInUtcWithMillisecondsAndReadsItBack)
{
    const UploadSession session{
        QUrl(
            u"https://www.googleapis.com/upload/drive/v3/files?uploadType=resumable&upload_id=A%2Fb"_s),
        9'000'000'000LL,
        QDateTime(QDate(2024, 5, 1), QTime(15, 30, 15, 250), Qt::OffsetFromUTC, 7 * 3600)};
    const QJsonObject json = session.toJson();
    EXPECT_EQ(json.value("modified"_L1).toString(), u"2024-05-01T08:30:15.250Z"_s);
    EXPECT_EQ(
        json.value("url"_L1).toString(),
        u"https://www.googleapis.com/upload/drive/v3/files?uploadType=resumable&upload_id=A%2Fb"_s);
    EXPECT_EQ(json.value("size"_L1).toInteger(), 9'000'000'000LL);

    const QByteArray bytes = QJsonDocument(json).toJson();
    EXPECT_EQ(UploadSession::fromJsonBytes(bytes), session);
}

// A local file can carry a date past the year 9999; its session must still read back.
TEST(UploadSession, datesBeyondTheWritableYearsAreStoredAsSecondsAndReadBack)
{
    const QUrl url(u"https://x.test/u"_s);
    for (const double seconds : {999'999'999'999.999, -999'999'999'999.0, 252'423'993'600.0}) {
        SCOPED_TRACE(seconds);
        const UploadSession read =
            UploadSession::fromJsonBytes(R"({"url":"https://x.test/u","size":1,"modified":)" +
                                         QByteArray::number(seconds, 'f', 3) + '}');
        EXPECT_EQ(UploadSession::fromJsonBytes(QJsonDocument(read.toJson()).toJson()), read);
    }
    const UploadSession late{url, 1, utc(12024, 5, 1, 8, 30, 15, 250)};
    EXPECT_TRUE(late.toJson().value("modified"_L1).isDouble());
    EXPECT_EQ(UploadSession::fromJsonBytes(QJsonDocument(late.toJson()).toJson()), late);

    // Drive-style dates still go out as text.
    const UploadSession early{url, 1, utc(1, 1, 1, 0, 0, 0)};
    EXPECT_EQ(early.toJson().value("modified"_L1).toString(), u"0001-01-01T00:00:00.000Z"_s);
    EXPECT_EQ(UploadSession::fromJsonBytes(QJsonDocument(early.toJson()).toJson()), early);
    EXPECT_THROW(
        UploadSession::fromJsonBytes(
            R"({"url":"https://x.test/u","size":1,"modified":"0001-01-01T00:00:00+01:00"})"),
        DecodingError);

    // A URL whose stored form differs from the text it came as still reads back as itself.
    const UploadSession odd = UploadSession::fromJsonBytes(
        R"({"url":"ps:o###","size":0,"modified":"2024-05-01T08:30:15.0Z"})");
    EXPECT_EQ(UploadSession::fromJsonBytes(QJsonDocument(odd.toJson()).toJson()), odd);
}

TEST(UploadSession, decodingAcceptsReferenceDateSecondsAndRejectsBadValues)
{
    const UploadSession fromSeconds = UploadSession::fromJsonBytes(
        R"({"url":"https://x.test/u","size":9007199254740993,"modified":736245015.5})");
    EXPECT_EQ(fromSeconds.size, 9007199254740993LL);
    EXPECT_EQ(fromSeconds.modified, utc(2024, 5, 1, 8, 30, 15, 500));

    for (const QByteArray &bad :
         {QByteArray(R"({"size":1,"modified":"2024-05-01T08:30:15Z"})"),
          QByteArray(R"({"url":"https://x.test/u","modified":"2024-05-01T08:30:15Z"})"),
          QByteArray(R"({"url":"https://x.test/u","size":1})"),
          QByteArray(R"({"url":"https://x.test/u","size":1.5,"modified":"2024-05-01T08:30:15Z"})"),
          QByteArray(R"({"url":"https://x.test/u","size":"1","modified":"2024-05-01T08:30:15Z"})"),
          QByteArray(R"({"url":"https://x.test/u","size":1,"modified":"2024-05-01"})"),
          QByteArray(R"({"url":"relative/path","size":1,"modified":"2024-05-01T08:30:15Z"})"),
          QByteArray(
              R"({"url":"https://x.test/u","size":1e30,"modified":"2024-05-01T08:30:15Z"})")}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_THROW(UploadSession::fromJsonBytes(bad), DecodingError);
    }
}

// Dates whose zone carries them past either end of the years RFC 3339 can write are refused:
// otherwise one formats to "" or lands before the date of things that have none.
TEST(InternetDate, everyDateReadFormatsAndReadsBackToItself)
{
    for (const QString &text :
         {u"0001-01-01T00:00:00Z"_s, u"0001-01-01T00:59:59-01:00"_s, u"9999-12-31T23:59:59.999Z"_s,
          u"9999-12-31T23:59:59+12:00"_s, u"2024-02-29T23:59:59.5+07:00"_s}) {
        SCOPED_TRACE(text.toStdString());
        const auto date = InternetDate::parse(text);
        ASSERT_TRUE(date.has_value());
        const QString written = InternetDate::format(*date);
        EXPECT_EQ(written.size(), 24) << written.toStdString();
        EXPECT_EQ(InternetDate::parse(written), date);
        EXPECT_GE(*date, InternetDate::distantPast());
    }
    EXPECT_EQ(InternetDate::format(utc(1, 1, 1, 0, 0, 0)), u"0001-01-01T00:00:00.000Z"_s);
    EXPECT_EQ(InternetDate::parse(u"9999-12-31T23:59:59-12:00"_s), std::nullopt);
    EXPECT_EQ(InternetDate::parse(u"0001-01-01T00:00:00+01:00"_s), std::nullopt);
    EXPECT_EQ(InternetDate::format(utc(10000, 1, 1, 0, 0, 0)), QString());
    EXPECT_EQ(InternetDate::format(QDateTime()), QString());
}

TEST(DriveFile, undatedItemsSortFirstByModifiedTime)
{
    const QList<DriveFile> files{fileModifiedAt(u"1970-01-01T00:00:00Z"_s),
                                 fileModifiedAt(u"garbage"_s), fileModifiedAt(std::nullopt),
                                 fileModifiedAt(u"1601-01-01T00:00:00Z"_s)};
    const QList<DriveFile> sorted = SortOption{SortOption::Key::Modified, true, true}.sorted(
        files, [](const DriveFile &f) { return f.name; },
        [](const DriveFile &f) { return f.isFolder(); },
        [](const DriveFile &f) { return f.modifiedDate(); },
        [](const DriveFile &f) { return f.bytes(); });
    EXPECT_EQ(sorted, (QList{files[1], files[2], files[3], files[0]}));
}
