#include "drive/drivefile.h"
#include "records/contentrange.h"
#include "records/errors.h"
#include "records/partialdownload.h"
#include "records/speedtracker.h"
#include "records/drivelinks.h"
#include "records/drivenames.h"
#include "records/localnames.h"
#include "records/uploadutilities.h"
#include "support/qtprinters.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <limits>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace Qt::StringLiterals;

namespace {

QString repeat(char c, int n)
{
    return QString(n, QChar::fromLatin1(c));
}

template<class F> QString messageOf(F &&f)
{
    try {
        f();
    } catch (const TarnwickError &e) {
        return e.message();
    }
    return u"(nothing thrown)"_s;
}

// A temporary folder on a file system with user extended attributes: /tmp normally, otherwise
// one under the working directory (the build tree).
class XattrDir
{
public:
    XattrDir()
    {
        if (!supportsXattr(m_dir.path()))
            m_fallback.emplace(QDir::current().filePath(u"xattr-XXXXXX"_s));
    }
    QString path() const { return m_fallback ? m_fallback->path() : m_dir.path(); }
    QString filePath(const QString &name) const { return path() + u'/' + name; }

private:
    static bool supportsXattr(const QString &dir)
    {
        const QString probe = writeFile(dir + u"/.probe"_s, {});
        const bool ok =
            ::setxattr(QFile::encodeName(probe).constData(), "user.probe", "1", 1, 0) == 0;
        QFile::remove(probe);
        return ok;
    }
    QTemporaryDir m_dir;
    std::optional<QTemporaryDir> m_fallback;
};

DriveFile remoteFile(const QString &modified = u"2024-05-01T08:30:15.123Z"_s)
{
    DriveFile file(u"abc"_s, u"x.bin"_s, u"application/octet-stream"_s);
    file.modifiedTime = modified;
    file.size = u"10"_s;
    return file;
}

QDateTime at(double seconds)
{
    return QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + qint64(seconds * 1000), Qt::UTC);
}

} // namespace

TEST(ParseDriveID, linksAndBareIDs)
{
    using DriveLinks::parseDriveID;
    const QString id33 = u"1AbCdEfGhIjKlMnOpQrStUvWxYz_-0123"_s;
    ASSERT_EQ(id33.size(), 33);
    EXPECT_EQ(parseDriveID(u"https://drive.google.com/drive/folders/"_s + id33 + u"?usp=sharing"_s),
              id33);
    EXPECT_EQ(
        parseDriveID(u"https://drive.google.com/file/d/"_s + id33 + u"/view?usp=drive_link"_s),
        id33);
    EXPECT_EQ(parseDriveID(u"https://docs.google.com/document/d/"_s + id33 + u"/edit"_s), id33);
    EXPECT_EQ(parseDriveID(u"https://drive.google.com/open?id="_s + id33), id33);
    EXPECT_EQ(parseDriveID(u"https://drive.google.com/uc?export=download&id=abc"_s), u"abc"_s);
    EXPECT_EQ(parseDriveID(u"  \n"_s + id33 + u"\t\n"_s), id33);
    // Earlier patterns win over later ones anywhere in the text.
    EXPECT_EQ(parseDriveID(u"https://x.test/d/first?id=second/folders/third"_s), u"third"_s);
}

TEST(ParseDriveID, bareTextMustLookLikeAnID)
{
    using DriveLinks::parseDriveID;
    EXPECT_EQ(parseDriveID(repeat('a', 20)), std::nullopt);
    EXPECT_EQ(parseDriveID(repeat('a', 24)), std::nullopt);
    EXPECT_EQ(parseDriveID(repeat('a', 25)), repeat('a', 25));
    EXPECT_EQ(parseDriveID(repeat('a', 60)), repeat('a', 60));
    EXPECT_EQ(parseDriveID(repeat('a', 61)), std::nullopt);
    EXPECT_EQ(parseDriveID(repeat('a', 20) + u" "_s + repeat('b', 20)), std::nullopt);
    EXPECT_EQ(parseDriveID(u"https://example.com/folders/"_s), std::nullopt);
    EXPECT_EQ(parseDriveID(u""_s), std::nullopt);
}

TEST(ValidateName, trimsAndRejects)
{
    using DriveNames::validateName;
    EXPECT_EQ(validateName(u"  Báo cáo 2024 \n"_s), u"Báo cáo 2024"_s);
    EXPECT_EQ(validateName(u"..."_s), u"..."_s);
    EXPECT_EQ(validateName(u".hidden"_s), u".hidden"_s);
    const QString message = u"Tên không được để trống hoặc chứa dấu /."_s;
    for (const QString &bad :
         {u""_s, u"   "_s, u"\n\t"_s, u"."_s, u" .. "_s, u"a/b"_s, u"/"_s, u"a\0b"_s}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(messageOf([&] { validateName(bad); }), message);
    }
}

TEST(AvailableDestination, cleansTheNameAndKeepsItInsideTheFolder)
{
    using LocalNames::availableDestination;
    const auto nothing = [](const QString &) { return false; };
    const auto pick = [&](const QString &name) {
        QSet<QString> reserved;
        return availableDestination(name, u"/dl"_s, reserved, nothing);
    };
    EXPECT_EQ(pick(u"a:b/c.txt"_s), u"/dl/a-b-c.txt"_s);
    EXPECT_EQ(pick(u"  spaced.txt \n"_s), u"/dl/spaced.txt"_s);
    EXPECT_EQ(pick(u"nul\0l.txt"_s), u"/dl/null.txt"_s);
    EXPECT_EQ(pick(u".."_s), u"/dl/file"_s);
    EXPECT_EQ(pick(u"."_s), u"/dl/file"_s);
    EXPECT_EQ(pick(u"  "_s), u"/dl/file"_s);
    EXPECT_EQ(pick(u"../../etc/passwd"_s), u"/dl/..-..-etc-passwd"_s);
    QSet<QString> reserved;
    EXPECT_EQ(availableDestination(u"x"_s, u"/dl/"_s, reserved, nothing), u"/dl/x"_s);
}

// Drive's JSON keeps lone surrogates; the file system gets each as U+FFFD in 3 bytes. The name and
// its part file are measured as they reach the disk.
TEST(AvailableDestination, loneSurrogatesAreMeasuredAsTheFileSystemGetsThem)
{
    using LocalNames::availableDestination;
    const auto nothing = [](const QString &) { return false; };
    const QChar lone(char16_t(0xDFDF));
    for (const auto &[letters, surrogates] : {std::pair{236, 4}, std::pair{230, 10}}) {
        SCOPED_TRACE(surrogates);
        const QString name = QString(letters, u'a') + QString(surrogates, lone);
        QSet<QString> reserved;
        const QString chosen = availableDestination(name, u"/dl"_s, reserved, nothing);
        const QString file = chosen.mid(4);
        EXPECT_LE(QFile::encodeName(file).size(), 240);
        EXPECT_LE(QFile::encodeName(LocalNames::partPath(chosen).mid(4)).size(), 255);
        EXPECT_EQ(QString::fromUtf8(QFile::encodeName(file)), file);
        EXPECT_TRUE(file.startsWith(QString(letters, u'a')));
        EXPECT_TRUE(file.contains(QChar::ReplacementCharacter));
    }
    // Qt's grapheme finder reports a boundary inside each pair after U+11FDF: the cut still keeps
    // the pair whole.
    {
        const QString name = QString(78, QChar(0x1818)) + u"\U00011FDF\U000C7FDF\U000C7FDF"_s;
        QSet<QString> reserved;
        const QString file = availableDestination(name, u"/dl"_s, reserved, nothing).mid(4);
        EXPECT_EQ(file, QString(78, QChar(0x1818)) + u"\U00011FDF"_s);
        EXPECT_LE(QFile::encodeName(LocalNames::partPath(file)).size(), 255);
    }
    // A whole pair stays as it is.
    QSet<QString> reserved;
    EXPECT_EQ(availableDestination(u"a😀b"_s, u"/dl"_s, reserved, nothing), u"/dl/a😀b"_s);
}

TEST(AvailableDestination, numbersTakenNamesBeforeTheExtension)
{
    using LocalNames::availableDestination;
    QSet<QString> taken{u"/dl/report.pdf"_s, u"/dl/report 2.pdf"_s, u"/dl/notes"_s,
                        u"/dl/.bashrc"_s,    u"/dl/a.tar.gz"_s,     u"/dl/end."_s};
    const auto exists = [&](const QString &path) { return taken.contains(path); };
    QSet<QString> reserved;
    EXPECT_EQ(availableDestination(u"report.pdf"_s, u"/dl"_s, reserved, exists),
              u"/dl/report 3.pdf"_s);
    EXPECT_EQ(availableDestination(u"notes"_s, u"/dl"_s, reserved, exists), u"/dl/notes 2"_s);
    EXPECT_EQ(availableDestination(u".bashrc"_s, u"/dl"_s, reserved, exists), u"/dl/.bashrc 2"_s);
    EXPECT_EQ(availableDestination(u"a.tar.gz"_s, u"/dl"_s, reserved, exists), u"/dl/a.tar 2.gz"_s);
    EXPECT_EQ(availableDestination(u"end."_s, u"/dl"_s, reserved, exists), u"/dl/end. 2"_s);
    EXPECT_EQ(reserved, (QSet<QString>{u"report 3.pdf"_s, u"notes 2"_s, u".bashrc 2"_s,
                                       u"a.tar 2.gz"_s, u"end. 2"_s}));
}

TEST(AvailableDestination, batchReservationsAndLeftoverPartFilesOnDisk)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QSet<QString> reserved;
    using LocalNames::availableDestination;
    EXPECT_EQ(availableDestination(u"x.txt"_s, dir.path(), reserved), dir.filePath(u"x.txt"_s));
    EXPECT_EQ(availableDestination(u"x.txt"_s, dir.path(), reserved), dir.filePath(u"x 2.txt"_s));

    writeFile(dir.filePath(u".y.txt.tarnwick-part"_s), "partial");
    QSet<QString> fresh;
    EXPECT_EQ(availableDestination(u"y.txt"_s, dir.path(), fresh), dir.filePath(u"y 2.txt"_s));

    // A dangling symbolic link still occupies the name.
    ASSERT_EQ(::symlink("/nonexistent/target", QFile::encodeName(dir.filePath(u"z"_s)).constData()),
              0);
    EXPECT_EQ(availableDestination(u"z"_s, dir.path(), fresh), dir.filePath(u"z 2"_s));
}

// Names from Drive up to and past the file-name limit: the download and its part file must
// both be creatable, so the name is shortened by whole characters, keeping suffix and extension.
TEST(AvailableDestination, longNamesAreShortenedSoThePartFileFitsToo)
{
    using LocalNames::availableDestination;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto fitsOnDisk = [&](const QString &destination) {
        for (const QString &path : {destination, LocalNames::partPath(destination)}) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly))
                return false;
            file.remove();
        }
        return true;
    };
    const auto nameOf = [](const QString &path) { return path.mid(path.lastIndexOf(u'/') + 1); };

    for (const int bytes : {240, 241, 250, 254, 255, 300, 5000}) {
        SCOPED_TRACE(bytes);
        const QString name = repeat('a', bytes - 4) + u".pdf"_s;
        QSet<QString> reserved;
        const QString first = availableDestination(name, dir.path(), reserved);
        const QString second = availableDestination(name, dir.path(), reserved);
        for (const QString &path : {first, second}) {
            EXPECT_LE(nameOf(path).toUtf8().size(), 240);
            EXPECT_TRUE(nameOf(path).endsWith(u".pdf"_s)) << nameOf(path).toStdString();
            EXPECT_TRUE(fitsOnDisk(path));
        }
        EXPECT_TRUE(nameOf(second).endsWith(u" 2.pdf"_s));
        EXPECT_NE(first, second);
        if (bytes == 240) {
            EXPECT_EQ(nameOf(first), name);
        }
    }

    // Vietnamese letters take two or three bytes: cut between whole letters, precomposed or
    // with their accents as combining marks.
    const QString precomposed = QString(170, QChar(0x1EBF)) + u".txt"_s; // ế
    const QString decomposed = u"e\u0302\u0301"_s.repeated(170);
    for (const QString &name : {precomposed, decomposed}) {
        QSet<QString> reserved;
        const QString shortened = nameOf(availableDestination(name, dir.path(), reserved));
        EXPECT_LE(shortened.toUtf8().size(), 240);
        EXPECT_GT(shortened.toUtf8().size(), 230);
        EXPECT_TRUE(name.startsWith(shortened.chopped(name == precomposed ? 4 : 0)));
        EXPECT_EQ(QString::fromUtf8(shortened.toUtf8()), shortened);
        if (name == decomposed) {
            EXPECT_EQ(shortened.size() % 3, 0) << "a letter lost its accents";
        }
        EXPECT_TRUE(fitsOnDisk(dir.filePath(shortened)));
    }

    // An extension too long to keep whole is cut with the rest; a letter with hundreds of marks
    // is cut between code points; a surrogate pair stays whole.
    QSet<QString> reserved;
    for (const QString &name : {u"a."_s + repeat('b', 300), u"x"_s + QString(300, QChar(0x0301)),
                                u"\U0001F600"_s.repeated(100)}) {
        const QString shortened = nameOf(availableDestination(name, dir.path(), reserved));
        EXPECT_LE(shortened.toUtf8().size(), 240);
        EXPECT_FALSE(shortened.isEmpty());
        EXPECT_FALSE(shortened.back().isHighSurrogate());
        EXPECT_TRUE(fitsOnDisk(dir.filePath(shortened)));
    }
}

TEST(PartPath, hiddenSiblingOfTheDestination)
{
    using LocalNames::partPath;
    EXPECT_EQ(partPath(u"/home/u/Tải về/name.ext"_s),
              u"/home/u/Tải về/.name.ext.tarnwick-part"_s);
    EXPECT_EQ(partPath(u"/home/u/folder/"_s), u"/home/u/.folder.tarnwick-part"_s);
    EXPECT_EQ(partPath(u"/x"_s), u"/.x.tarnwick-part"_s);
}

TEST(ConfirmedOffset, readsTheServersLastByte)
{
    using UploadUtilities::confirmedOffset;
    EXPECT_EQ(confirmedOffset(std::nullopt, 100), 0);
    EXPECT_EQ(confirmedOffset(u"bytes=0-49"_s, 100), 50);
    EXPECT_EQ(confirmedOffset(u"bytes=0-0"_s, 1), 1);
    EXPECT_EQ(confirmedOffset(u"bytes=0-98"_s, 100), 99);
    // Everything held: the caller decides what a session without a finished item means.
    EXPECT_EQ(confirmedOffset(u"bytes=0-99"_s, 100), 100);
    const QString message = u"Google trả về tiến trình tải lên không hợp lệ."_s;
    for (const QString &bad :
         {u"bytes=0-100"_s, u"bytes=0-101"_s, u"bytes=10-49"_s, u"bytes=0-"_s, u"bytes=0--1"_s,
          u"bytes=0--0"_s, u"bytes=0-+49"_s, u"bytes=0-+0"_s,
          u"bytes=0-4x"_s, u"bytes=0- 4"_s, u"0-49"_s, u""_s, u"bytes=0-99999999999999999999"_s}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(messageOf([&] { confirmedOffset(bad, 100); }), message);
    }
    EXPECT_EQ(messageOf([&] { confirmedOffset(u"bytes=0-0"_s, 0); }), message);
}

TEST(ContentRange, readsOnlyAWholeWellFormedHeader)
{
    EXPECT_EQ(ContentRange::parse("bytes 0-49/50"), (ContentRange{0, 49, 50}));
    EXPECT_EQ(ContentRange::parse("bytes 20-29/*"), (ContentRange{20, 29, std::nullopt}));
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    EXPECT_EQ(ContentRange::parse("bytes " + QByteArray::number(most - 1) + '-' +
                                  QByteArray::number(most - 1) + '/' + QByteArray::number(most)),
              (ContentRange{most - 1, most - 1, most}));
    for (const char *bad :
         {"bytes 20-9/50", "bytes 0-49/50: bytes 0-49/50", "bytes 0-94/5", "bytes 0-50/50",
          "bytes 0-49/50 ", " bytes 0-49/50", "bytes  0-49/50", "bytes -0-49/50", "bytes +0-49/50",
          "bytes 0--49/50", "bytes 0-+49/50", "bytes 0-49/+50", "bytes 0-49/-50", "bytes 0-49",
          "bytes */50", "bytes 0-/50", "bytes -49/50", "bytes 0-49/", "bytes 0-49/5*",
          "bytes 0-99999999999999999999/*", "bytes 0x0-0x31/50", "items 0-49/50", "",
          "bytes 0-49/50/50"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ContentRange::parse(bad), std::nullopt);
    }
}

TEST(Children, keepsVisibleFilesAndFoldersSortedByName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath(u"file10.txt"_s), "x");
    writeFile(dir.filePath(u"File2.txt"_s), "x");
    writeFile(dir.filePath(u".hidden"_s), "x");
    writeFile(dir.filePath(u"sub/inner.txt"_s), "x");
    QDir(dir.path()).mkdir(u".hiddendir"_s);
    ::symlink(QFile::encodeName(dir.filePath(u"file10.txt"_s)).constData(),
              QFile::encodeName(dir.filePath(u"link.txt"_s)).constData());
    ::symlink(QFile::encodeName(dir.filePath(u"sub"_s)).constData(),
              QFile::encodeName(dir.filePath(u"linkdir"_s)).constData());
    ::mkfifo(QFile::encodeName(dir.filePath(u"pipe"_s)).constData(), 0600);

    EXPECT_EQ(LocalNames::children(dir.path()),
              (QStringList{dir.filePath(u"File2.txt"_s), dir.filePath(u"file10.txt"_s),
                           dir.filePath(u"sub"_s)}));
}

TEST(Children, listingFailuresCarryTheSystemText)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    try {
        LocalNames::children(dir.filePath(u"missing"_s));
        FAIL() << "no error";
    } catch (const SystemError &e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_FALSE(e.description().isEmpty());
    }
    const QString file = writeFile(dir.filePath(u"plain"_s), "x");
    EXPECT_THROW(LocalNames::children(file), SystemError);
}

TEST(PartialDownload, stampFormat)
{
    DriveFile file = remoteFile();
    file.size = u"1048576"_s;
    EXPECT_EQ(PartialDownload::stamp(file), u"abc|2024-05-01T08:30:15.123Z|1048576"_s);
    file.modifiedTime.reset();
    file.size = u"junk"_s;
    EXPECT_EQ(PartialDownload::stamp(file), u"abc||0"_s);
}

TEST(PartialDownload, markAndReadRoundTripAsUtf8WithoutTerminator)
{
    XattrDir dir;
    const QString part = writeFile(dir.filePath(u".x.bin.tarnwick-part"_s), "12345");
    EXPECT_EQ(PartialDownload::readStamp(part), std::nullopt);
    const QString stamp = u"ídé|2024-05-01T08:30:15Z|10"_s;
    PartialDownload::mark(part, stamp);
    EXPECT_EQ(PartialDownload::readStamp(part), stamp);

    char raw[256];
    const ssize_t size = ::getxattr(QFile::encodeName(part).constData(), "user.com.tarnwick.source",
                                    raw, sizeof raw);
    EXPECT_EQ(QByteArray(raw, size), stamp.toUtf8());

    // Marking a missing file is silently ignored.
    PartialDownload::mark(dir.filePath(u"missing"_s), stamp);
    EXPECT_EQ(PartialDownload::readStamp(dir.filePath(u"missing"_s)), std::nullopt);
}

TEST(PartialDownload, resumableOffsetKeepsOnlyAMatchingPrefix)
{
    XattrDir dir;
    const QString stamp = PartialDownload::stamp(remoteFile());
    const QString part = dir.filePath(u".x.bin.tarnwick-part"_s);

    EXPECT_EQ(PartialDownload::resumableOffset(part, stamp, 10), 0);

    writeFile(part, "12345");
    PartialDownload::mark(part, stamp);
    EXPECT_EQ(PartialDownload::resumableOffset(part, stamp, 10), 5);
    EXPECT_TRUE(QFileInfo::exists(part));

    writeFile(part, "1234567890");
    EXPECT_EQ(PartialDownload::resumableOffset(part, stamp, 10), 10); // already complete
}

TEST(PartialDownload, resumableOffsetDeletesStaleParts)
{
    XattrDir dir;
    const QString stamp = PartialDownload::stamp(remoteFile());
    const QString part = dir.filePath(u".x.bin.tarnwick-part"_s);
    struct Case
    {
        const char *what;
        QByteArray content;
        std::optional<QString> stamp;
        qint64 total;
    };
    const QString newerVersion = PartialDownload::stamp(remoteFile(u"2024-05-02T00:00:00Z"_s));
    for (const Case &c :
         {Case{"empty", "", stamp, 10}, Case{"longer than total", "12345", stamp, 4},
          Case{"no stamp", "12345", std::nullopt, 10},
          Case{"other modified time", "12345", newerVersion, 10},
          Case{"unknown total", "12345", stamp, 0}, Case{"negative total", "12345", stamp, -1}}) {
        SCOPED_TRACE(c.what);
        writeFile(part, c.content);
        if (c.stamp)
            PartialDownload::mark(part, *c.stamp);
        EXPECT_EQ(PartialDownload::resumableOffset(part, stamp, c.total), 0);
        EXPECT_FALSE(QFileInfo::exists(part));
    }
}

TEST(PartialDownload, aSymbolicLinkIsRemovedNotFollowed)
{
    XattrDir dir;
    const QString stamp = PartialDownload::stamp(remoteFile());
    const QString target = writeFile(dir.filePath(u"precious"_s), "12345");
    PartialDownload::mark(target, stamp);
    const QString part = dir.filePath(u".x.bin.tarnwick-part"_s);
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(part).constData()),
              0);
    EXPECT_EQ(PartialDownload::resumableOffset(part, stamp, 10), 0);
    EXPECT_FALSE(QFileInfo(part).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(target));
}

TEST(SpeedTracker, needsTwoSamplesMoreThanAFewMillisecondsApart)
{
    SpeedTracker tracker(2);
    EXPECT_EQ(tracker.update(1000, at(0)), 0);
    EXPECT_EQ(tracker.update(5000, at(0)), 0);    // same instant
    EXPECT_EQ(tracker.update(9000, at(0.05)), 0); // 0.05 s is not enough
    EXPECT_DOUBLE_EQ(tracker.update(1'001'000, at(0.5)), 2'000'000);
}

TEST(SpeedTracker, forgetsSamplesOlderThanTheWindow)
{
    SpeedTracker tracker(2);
    tracker.update(0, at(0));
    EXPECT_DOUBLE_EQ(tracker.update(1000, at(1)), 1000);
    EXPECT_DOUBLE_EQ(tracker.update(2000, at(2)), 1000); // the first sample is exactly 2 s old
    // Now the samples at 0 and 1 are older than 2 s: the speed spans 2..3 only.
    EXPECT_DOUBLE_EQ(tracker.update(6000, at(3.001)), 4000 / 1.001);
    // A long pause leaves only the new sample.
    EXPECT_EQ(tracker.update(7000, at(60)), 0);
}

TEST(SpeedTracker, aCountThatWentBackwardsGivesZero)
{
    SpeedTracker tracker(2);
    tracker.update(5000, at(0));
    EXPECT_EQ(tracker.update(100, at(1)), 0);
}
