// The last step of downloads, on real files: a group is flushed before any of its files gets its
// name, and a file whose flush fails keeps its part file while the rest of the group lands.
// Flush failures come through the Flush seam; everything else is the system's own calls.
#include "drive/partflusher.h"

#include "records/errors.h"
#include "records/localnames.h"
#include "records/partialdownload.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using PartFlusher::Finished;
using PartFlusher::Flush;

namespace {

QByteArray bytesFor(const QString &name)
{
    return name.toUtf8().repeated(5000);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The name of the file open under fd.
QString nameOf(int fd)
{
    return QFileInfo(QFile::symLinkTarget(u"/proc/self/fd/"_s + QString::number(fd))).fileName();
}

class PartFlusherTest : public ::testing::Test
{
protected:
    // A file that came into memory, for dir/name.
    Finished inMemory(const QString &name)
    {
        Finished f;
        f.destination = dir.filePath(name);
        f.part = LocalNames::partPath(f.destination);
        f.stamp = u"stamp-"_s + name;
        f.bytes = bytesFor(QFileInfo(name).fileName());
        return f;
    }
    // A file that streamed into its stamped part file.
    Finished streamed(const QString &name)
    {
        Finished f;
        f.destination = dir.filePath(name);
        f.part = LocalNames::partPath(f.destination);
        f.stamp = u"stamp-"_s + name;
        Testing::writeFile(f.part, bytesFor(QFileInfo(name).fileName()));
        PartialDownload::mark(f.part, f.stamp);
        return f;
    }
    // The system's flush, with each call recorded (a few threads may flush at once).
    Flush recorded()
    {
        return [this](int fd) {
            note(u"fdatasync "_s + nameOf(fd));
            return failFlush == nameOf(fd) ? EIO : PartFlusher::systemFlush(fd);
        };
    }
    void place(std::vector<Finished> &files, const Flush &flush)
    {
        std::vector<Finished *> group;
        for (Finished &f : files)
            group.push_back(&f);
        placing = &files;
        PartFlusher::placeGroup(group, flush);
        placing = nullptr;
    }
    // A call, and the files of the group that had their name with their new bytes by then.
    void note(const QString &call)
    {
        std::lock_guard lock(mutex);
        calls.push_back(call);
        for (const Finished &f : *placing) {
            if (readAll(f.destination) == bytesFor(QFileInfo(f.destination).fileName()))
                namedBeforeFlush.append(f.destination);
        }
    }
    void expectLanded(const Finished &f)
    {
        EXPECT_FALSE(f.failure) << f.destination.toStdString();
        EXPECT_EQ(readAll(f.destination), bytesFor(QFileInfo(f.destination).fileName()));
        EXPECT_FALSE(QFileInfo::exists(f.part));
        EXPECT_FALSE(PartialDownload::readStamp(f.destination).has_value());
        EXPECT_EQ(f.fd, -1);
        EXPECT_EQ(f.folder, -1);
    }
    // Not in place: the complete part file stays, stamped, so the next try can finish it.
    void expectKeptAsPart(const Finished &f, int code)
    {
        ASSERT_TRUE(f.failure) << f.destination.toStdString();
        try {
            std::rethrow_exception(f.failure);
        } catch (const SystemError &e) {
            EXPECT_EQ(e.code(), code);
        } catch (...) {
            ADD_FAILURE() << "not a SystemError";
        }
        EXPECT_FALSE(QFileInfo(f.destination).isFile());
        EXPECT_EQ(readAll(f.part), bytesFor(QFileInfo(f.destination).fileName()));
        EXPECT_EQ(PartialDownload::readStamp(f.part), f.stamp);
    }

    QTemporaryDir dir;
    std::mutex mutex;
    std::vector<Finished> *placing = nullptr;
    std::vector<QString> calls;
    QStringList namedBeforeFlush;
    QString failFlush;
};

TEST_F(PartFlusherTest, EveryFileOfAGroupIsFlushedBeforeAnyGetsItsName)
{
    std::vector<Finished> files;
    files.push_back(inMemory(u"a.jpg"_s));
    files.push_back(streamed(u"b.mp4"_s));
    files.push_back(inMemory(u"c.txt"_s));
    place(files, recorded());
    EXPECT_EQ(calls, (std::vector<QString>{u"fdatasync .a.jpg.tarnwick-part"_s,
                                           u"fdatasync .b.mp4.tarnwick-part"_s,
                                           u"fdatasync .c.txt.tarnwick-part"_s}));
    EXPECT_TRUE(namedBeforeFlush.isEmpty()) << namedBeforeFlush.join(u' ').toStdString();
    for (const Finished &f : files)
        expectLanded(f);
}

TEST_F(PartFlusherTest, AFileWhoseFlushFailsKeepsItsPartFileAndTheOthersLand)
{
    // A file that streamed into its part file keeps it with its stamp.
    {
        std::vector<Finished> files;
        files.push_back(inMemory(u"a.jpg"_s));
        files.push_back(streamed(u"b.mp4"_s));
        files.push_back(inMemory(u"c.txt"_s));
        failFlush = u".b.mp4.tarnwick-part"_s;
        place(files, recorded());
        EXPECT_TRUE(namedBeforeFlush.isEmpty());
        expectLanded(files[0]);
        expectKeptAsPart(files[1], EIO);
        expectLanded(files[2]);
    }
    // A file from memory: its complete part file is stamped for the next try.
    {
        std::vector<Finished> files;
        files.push_back(inMemory(u"d.jpg"_s));
        files.push_back(inMemory(u"e.jpg"_s));
        failFlush = u".e.jpg.tarnwick-part"_s;
        place(files, recorded());
        expectLanded(files[0]);
        expectKeptAsPart(files[1], EIO);
    }
}

TEST_F(PartFlusherTest, FailuresBeforeTheFlushLeaveTheRestOfTheGroupAlone)
{
    std::vector<Finished> files;
    // A streamed file whose part file is gone.
    Finished lost = streamed(u"lost.mp4"_s);
    ASSERT_TRUE(QFile::remove(lost.part));
    files.push_back(std::move(lost));
    // A destination that cannot be replaced: a folder with contents.
    Testing::writeFile(dir.filePath(u"blocked.jpg/inside"_s), "x");
    files.push_back(inMemory(u"blocked.jpg"_s));
    // A folder that does not exist yet is made for a file from memory.
    Finished nested = inMemory(u"new/folder/deep.jpg"_s);
    files.push_back(std::move(nested));
    // A stale part file and an older destination, both replaced.
    Finished older = inMemory(u"older.jpg"_s);
    Testing::writeFile(older.destination, "the older copy");
    Testing::writeFile(older.part, "stale bytes of another try");
    files.push_back(std::move(older));
    place(files, recorded());

    ASSERT_TRUE(files[0].failure);
    EXPECT_FALSE(QFileInfo::exists(files[0].destination));
    // The rename failed after the flush: the part file stays complete and stamped.
    expectKeptAsPart(files[1], EISDIR);
    EXPECT_EQ(readAll(dir.filePath(u"blocked.jpg/inside"_s)), "x");
    expectLanded(files[2]);
    expectLanded(files[3]);
    EXPECT_TRUE(namedBeforeFlush.isEmpty()) << namedBeforeFlush.join(u' ').toStdString();
}

// A large group is flushed by a few threads at once; a failure still hits only its own file.
TEST_F(PartFlusherTest, ManyFilesFlushedSideBySideEachAnswerForItself)
{
    std::vector<Finished> files;
    for (int i = 0; i < 40; ++i)
        files.push_back(i % 3 ? inMemory(u"f%1.bin"_s.arg(i)) : streamed(u"f%1.bin"_s.arg(i)));
    failFlush = u".f7.bin.tarnwick-part"_s;
    place(files, recorded());
    EXPECT_EQ(calls.size(), files.size());
    EXPECT_TRUE(namedBeforeFlush.isEmpty()) << namedBeforeFlush.join(u' ').toStdString();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i == 7)
            expectKeptAsPart(files[i], EIO);
        else
            expectLanded(files[i]);
    }
}

// Files handed over one by one from many downloads at once end in groups on the flusher's
// threads, each resumed with its own outcome.
TEST_F(PartFlusherTest, FilesPlacedFromManyDownloadsAtOnceEachGetTheirOwnOutcome)
{
    Testing::writeFile(dir.filePath(u"blocked.jpg/inside"_s), "x");
    std::vector<Finished> files;
    for (int i = 0; i < 30; ++i)
        files.push_back(i % 4 ? inMemory(u"g%1.bin"_s.arg(i)) : streamed(u"g%1.bin"_s.arg(i)));
    files.push_back(inMemory(u"blocked.jpg"_s));
    int done = 0;
    int failed = 0;
    const auto one = [&](Finished f) -> QCoro::Task<> {
        try {
            auto placing = PartFlusher::place(std::move(f));
            co_await placing;
        } catch (const SystemError &) {
            ++failed;
        }
        ++done;
    };
    std::vector<QCoro::Task<>> tasks;
    for (const Finished &f : files)
        tasks.push_back(one(f));
    ASSERT_TRUE(Testing::waitUntil([&] { return done == int(files.size()); }));
    EXPECT_EQ(failed, 1);
    for (std::size_t i = 0; i + 1 < files.size(); ++i) {
        Finished landed = files[i];
        landed.fd = landed.folder = -1;
        expectLanded(landed);
    }
    EXPECT_EQ(readAll(files.back().part), bytesFor(u"blocked.jpg"_s));
    EXPECT_EQ(PartialDownload::readStamp(files.back().part), files.back().stamp);
}

// Another user who may write in a shared download folder plants a link where the part file goes:
// the bytes never go through it.
TEST_F(PartFlusherTest, ALinkPlantedAtThePartFileIsReplacedNotWrittenThrough)
{
    const QByteArray precious = "the user's thesis";
    const QString victim = Testing::writeFile(dir.filePath(u"luan-van.docx"_s), precious);
    std::vector<Finished> files;
    files.push_back(inMemory(u"a.jpg"_s));
    files.push_back(inMemory(u"b.jpg"_s));
    ASSERT_TRUE(QFile::link(victim, files[1].part));
    place(files, recorded());
    EXPECT_EQ(readAll(victim), precious);
    expectLanded(files[0]);
    expectLanded(files[1]);
    EXPECT_FALSE(QFileInfo(files[1].destination).isSymLink());
}

} // namespace
