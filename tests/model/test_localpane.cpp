#include "appmodel.h"
#include "browse/localbrowser.h"
#include "browse/localfolderlisting.h"
#include "support/scripteddesktop.h"
#include "support/testsupport.h"

#include "async/clock.h"
#include "async/runsync.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Tarnwick::AppModel;
using Tarnwick::LocalBrowser;
using Tarnwick::LocalFile;
using Tarnwick::LocalFolderListing;
using Tarnwick::NameCollator;
using Tarnwick::runSync;
using Tarnwick::SortOption;
using Tarnwick::Testing::ScriptedDesktop;
using Tarnwick::Testing::writeFile;

namespace {

QStringList names(const QList<LocalFile> &files)
{
    QStringList out;
    for (const LocalFile &f : files)
        out.append(f.name());
    return out;
}

class LocalPane : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings().clear();
        root = m_root.path();
    }
    void TearDown() override { QSettings().clear(); }

    // b.txt, A/, a.txt, Z/ plus entries the pane must not show.
    void makeMixedFolder()
    {
        writeFile(root + u"/b.txt"_s, "bbb");
        writeFile(root + u"/a.txt"_s, "aaaaaaaaaa");
        QDir(root).mkdir(u"A"_s);
        QDir(root).mkdir(u"Z"_s);
        writeFile(root + u"/.hidden"_s, "h");
        QDir(root).mkdir(u".cache"_s);
        QFile::link(root + u"/a.txt"_s, root + u"/link.txt"_s);
        QFile::link(root + u"/A"_s, root + u"/linkdir"_s);
    }

    // The slice, with what it tells the window kept in failures and notices.
    std::unique_ptr<LocalBrowser> makeBrowser()
    {
        auto local = std::make_unique<LocalBrowser>(desktop);
        QObject::connect(local.get(), &LocalBrowser::failed,
                         [this](const QString &message) { failures.append(message); });
        QObject::connect(local.get(), &LocalBrowser::notice,
                         [this](const QString &text) { notices.append(text); });
        return local;
    }

    QStringList failures;
    QStringList notices;
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_root;
    QTemporaryDir m_trash;
    QString root;
    ScriptedDesktop desktop{m_trash.path() + u"/Trash"_s};
};

TEST_F(LocalPane, ListingLeavesOutHiddenEntriesAndLinksAndPutsFoldersFirst)
{
    makeMixedFolder();
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));

    EXPECT_EQ(names(local->localFiles()), (QStringList{u"A"_s, u"Z"_s, u"a.txt"_s, u"b.txt"_s}));
    const LocalFile &folder = local->localFiles().at(0);
    EXPECT_TRUE(folder.isFolder);
    EXPECT_EQ(folder.size, 0);
    EXPECT_EQ(folder.url, root + u"/A"_s);
    const LocalFile &file = local->localFiles().at(2);
    EXPECT_FALSE(file.isFolder);
    EXPECT_EQ(file.size, 10);
    ASSERT_TRUE(file.modified.has_value());
    EXPECT_LT(qAbs(file.modified->secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_EQ(local->localURL(), root);
    EXPECT_EQ(QSettings().value(LocalBrowser::localFolderKey).toString(), root);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
}

TEST_F(LocalPane, NamesWithDigitsAndCaseSortLikeAFileBrowser)
{
    for (const char *n : {"file10.txt", "File2.txt", "file1.txt", "Ảnh.png"})
        writeFile(root + u'/' + QString::fromUtf8(n), "x");
    const LocalFolderListing listing = LocalFolderListing::read(root);
    ASSERT_FALSE(listing.failure.has_value());
    EXPECT_EQ(names(listing.files),
              (QStringList{u"Ảnh.png"_s, u"file1.txt"_s, u"File2.txt"_s, u"file10.txt"_s}));
}

TEST_F(LocalPane, ABigFolderListedAndSortedOnTwoThreadsKeepsEveryEntryInOrder)
{
    // Enough entries to be looked at and sorted in two halves, with folders, links and hidden
    // entries in both, and sizes that tell each file from its neighbours.
    constexpr int count = 5400;
    QStringList expected;
    qsizetype folders = 0;
    for (int i = 0; i < count; ++i) {
        const QString name = u"mục %1"_s.arg(count - i);
        if (i % 1000 == 7) {
            ASSERT_TRUE(QDir(root).mkdir(name));
            ++folders;
        } else if (i % 1000 == 8) {
            ASSERT_TRUE(QFile::link(root + u"/mục 1"_s, root + u'/' + name));
            continue;
        } else if (i % 1000 == 9) {
            writeFile(root + u"/."_s + name, "hidden");
            continue;
        } else {
            writeFile(root + u'/' + name, QByteArray(i % 50, 'x'));
        }
        expected.append(name);
    }
    const LocalFolderListing listing = LocalFolderListing::read(root);
    ASSERT_FALSE(listing.failure.has_value());
    ASSERT_EQ(listing.files.size(), expected.size());
    // Folders first, then by name with numbers by value, pair by pair.
    const NameCollator &collator = NameCollator::forThisThread();
    for (qsizetype i = 1; i < listing.files.size(); ++i) {
        const LocalFile &a = listing.files.at(i - 1);
        const LocalFile &b = listing.files.at(i);
        if (a.isFolder != b.isFolder)
            EXPECT_TRUE(a.isFolder) << qPrintable(b.name());
        else
            EXPECT_LT(collator.compare(a.name(), b.name()), 0)
                << qPrintable(a.name()) << " before " << qPrintable(b.name());
    }
    EXPECT_TRUE(listing.files.first().isFolder);
    EXPECT_EQ(listing.files.at(folders).name(), u"mục 1"_s);
    for (const LocalFile &file : listing.files) {
        const int i = count - file.name().mid(4).toInt();
        EXPECT_EQ(file.isFolder, i % 1000 == 7) << qPrintable(file.name());
        EXPECT_EQ(file.size, file.isFolder ? 0 : i % 50) << qPrintable(file.name());
    }
    QStringList listed = names(listing.files);
    listed.sort();
    expected.sort();
    EXPECT_EQ(listed, expected);
}

TEST_F(LocalPane, ReadingSomethingThatIsNotAFolderFailsWithTheSystemText)
{
    const QString file = writeFile(root + u"/plain"_s, "x");
    EXPECT_EQ(LocalFolderListing::read(file).failure, u"Not a directory"_s);
    EXPECT_EQ(LocalFolderListing::read(root + u"/missing"_s).failure,
              u"No such file or directory"_s);
}

TEST_F(LocalPane, VisibleListFollowsTheSortWhileTheListingOrderStays)
{
    makeMixedFolder();
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    const QList<LocalFile> listed = local->localFiles();

    QSignalSpy sortChanged(local.get(), &LocalBrowser::localSortChanged);
    local->setLocalSort(SortOption{SortOption::Key::Size, false, false});
    EXPECT_EQ(sortChanged.count(), 1);
    EXPECT_EQ(names(local->visibleLocal()), (QStringList{u"a.txt"_s, u"b.txt"_s, u"A"_s, u"Z"_s}));
    EXPECT_EQ(local->localFiles(), listed);

    // The choice is stored and read back by the next start.
    auto next = makeBrowser();
    EXPECT_EQ(next->localSort(), (SortOption{SortOption::Key::Size, false, false}));
}

TEST_F(LocalPane, UnreadableSortSettingFallsBackToNameAscendingFoldersFirst)
{
    for (const QByteArray &stored :
         {QByteArray("garbage"),
          QByteArray(R"({"key":"colour","ascending":false,"foldersFirst":false})"),
          QByteArray(R"({"key":"size","ascending":false})")}) {
        QSettings().setValue(LocalBrowser::sortLocalKey, stored);
        auto local = makeBrowser();
        EXPECT_EQ(local->localSort(), (SortOption{SortOption::Key::Name, true, true}))
            << stored.data();
    }
}

TEST_F(LocalPane, SearchIsCaseInsensitiveAndNavigationEmptiesIt)
{
    makeMixedFolder();
    writeFile(root + u"/Ảnh.png"_s, "x"); // precomposed on disk
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));

    local->setLocalSearch(u"TXT"_s);
    EXPECT_EQ(names(local->visibleLocal()), (QStringList{u"a.txt"_s, u"b.txt"_s}));
    // A decomposed search text still finds the precomposed name.
    local->setLocalSearch(u"a\u0309nh"_s);
    EXPECT_EQ(names(local->visibleLocal()), (QStringList{u"Ảnh.png"_s}));
    // Used as typed: a trailing space is part of the text.
    local->setLocalSearch(u"txt "_s);
    EXPECT_TRUE(local->visibleLocal().isEmpty());
    local->setLocalSearch(QString());
    EXPECT_EQ(local->visibleLocal().size(), 5);

    local->setLocalSearch(u"a"_s);
    QDir(root).mkdir(u"Sub"_s);
    QSignalSpy searchChanged(local.get(), &LocalBrowser::localSearchChanged);
    runSync(local->navigateLocal(root + u"/Sub"_s));
    EXPECT_TRUE(local->localSearch().isEmpty());
    EXPECT_EQ(searchChanged.count(), 1);
    EXPECT_EQ(local->localURL(), root + u"/Sub"_s);
}

TEST_F(LocalPane, SearchWithoutMarksFindsVietnameseNames)
{
    for (const QString &name : {u"Hợp đồng.pdf"_s, u"hộp thư.txt"_s, u"ĐƠN XIN.doc"_s,
                                u"Ho so.txt"_s, u"Ảnh.png"_s})
        writeFile(root + u"/"_s + name, "x");
    // Written decomposed, as another system may store it.
    writeFile(root + u"/"_s + u"Hợp lệ.txt"_s.normalized(QString::NormalizationForm_D), "x");
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    auto found = [&](const QString &search) {
        local->setLocalSearch(search);
        QStringList got;
        for (const LocalFile &file : local->visibleLocal())
            got.append(file.name().normalized(QString::NormalizationForm_C));
        got.sort();
        return got;
    };

    EXPECT_EQ(found(u"hop"_s),
              (QStringList{u"Hợp lệ.txt"_s, u"Hợp đồng.pdf"_s, u"hộp thư.txt"_s}));
    EXPECT_EQ(found(u"dong"_s), QStringList{u"Hợp đồng.pdf"_s});
    EXPECT_EQ(found(u"don"_s), (QStringList{u"Hợp đồng.pdf"_s, u"ĐƠN XIN.doc"_s}));
    // A search typed with marks keeps them: "hộp" is not "hợp".
    EXPECT_EQ(found(u"hộp"_s), QStringList{u"hộp thư.txt"_s});
    EXPECT_EQ(found(u"HỢP"_s), (QStringList{u"Hợp lệ.txt"_s, u"Hợp đồng.pdf"_s}));
    // The plain rule still holds for names without marks.
    EXPECT_EQ(found(u"ho s"_s), QStringList{u"Ho so.txt"_s});
    EXPECT_TRUE(found(u"hopd"_s).isEmpty());
}

TEST_F(LocalPane, ListingTheSameFolderAgainClearsTheSelection)
{
    makeMixedFolder();
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    local->setLocalSelection({root + u"/a.txt"_s});
    writeFile(root + u"/c.txt"_s, "new");
    runSync(local->navigateLocal(root + u"/"_s)); // the same folder, spelled differently
    EXPECT_TRUE(local->localSelection().isEmpty());
    EXPECT_EQ(local->localURL(), root);
    EXPECT_TRUE(names(local->localFiles()).contains(u"c.txt"_s));
}

TEST_F(LocalPane, FailedListingKeepsThePaneAndReportsTheSystemText)
{
    makeMixedFolder();
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    local->setLocalSelection({root + u"/a.txt"_s});
    local->setLocalSearch(u"a"_s);
    const QList<LocalFile> before = local->localFiles();

    runSync(local->navigateLocal(root + u"/gone"_s));
    EXPECT_EQ(failures.value(failures.size() - 1), u"Không mở được thư mục: No such file or directory"_s);
    EXPECT_EQ(local->localURL(), root);
    EXPECT_EQ(local->localFiles(), before);
    EXPECT_EQ(local->localSelection(), QSet<QString>{root + u"/a.txt"_s});
    EXPECT_EQ(local->localSearch(), u"a"_s);
    EXPECT_EQ(QSettings().value(LocalBrowser::localFolderKey).toString(), root);
}

TEST_F(LocalPane, StartUpReopensTheStoredFolderOnce)
{
    makeMixedFolder();
    QSettings().setValue(LocalBrowser::localFolderKey, root);
    AppModel model(&desktop);
    runSync(model.initialize());
    EXPECT_EQ(model.local().localURL(), root);
    EXPECT_EQ(model.local().localFiles().size(), 4);

    QSignalSpy listed(&model.local(), &LocalBrowser::localFilesChanged);
    runSync(model.initialize());
    EXPECT_EQ(listed.count(), 0);
}

TEST_F(LocalPane, StartUpWithAVanishedFolderLeavesTheFirstUseState)
{
    QSettings().setValue(LocalBrowser::localFolderKey, root + u"/vanished"_s);
    AppModel model(&desktop);
    runSync(model.initialize());
    EXPECT_FALSE(model.local().localURL().has_value());
    EXPECT_TRUE(model.error().has_value());

    QSettings().remove(LocalBrowser::localFolderKey);
    AppModel fresh(&desktop);
    runSync(fresh.initialize());
    EXPECT_FALSE(fresh.local().localURL().has_value());
    EXPECT_FALSE(fresh.error().has_value());
}

TEST_F(LocalPane, ThrottledRefreshRunsAtMostEveryTwoSeconds)
{
    Tarnwick::TestClock clock;
    auto local = makeBrowser();
    QSignalSpy listed(local.get(), &LocalBrowser::localFilesChanged);

    runSync(local->navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 1);
    clock.advance(1s);
    runSync(local->navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 1);
    clock.advance(1s);
    runSync(local->navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 2);
    // Unthrottled listings do not count against the throttle.
    runSync(local->navigateLocal(root));
    EXPECT_EQ(listed.count(), 3);
    runSync(local->navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 3);
    // A clock set back an hour does not hold refreshes off until it catches up.
    clock.advance(-1h);
    runSync(local->navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 4);
}

TEST_F(LocalPane, TrashingGoesOnPastAFailureAndReportsIt)
{
    const QString x1 = writeFile(root + u"/x1"_s, "1");
    const QString x2 = writeFile(root + u"/x2"_s, "2");
    const QString x3 = writeFile(root + u"/x3"_s, "3");
    desktop.failTrash(x2, u"Permission denied"_s);
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));

    runSync(local->trashLocalFiles(local->localFiles()));
    EXPECT_EQ(desktop.trashRequests, (QStringList{x1, x2, x3}));
    EXPECT_EQ(failures.value(failures.size() - 1), u"Không thể chuyển vào thùng rác: Permission denied"_s);
    EXPECT_EQ(notices.value(notices.size() - 1), u"Đã chuyển 2 mục vào thùng rác"_s);
    EXPECT_EQ(names(local->localFiles()), QStringList{u"x2"_s});
}

TEST_F(LocalPane, TrashingWhereEverythingFailsNeitherNotifiesNorRelists)
{
    const QString x1 = writeFile(root + u"/x1"_s, "1");
    desktop.failTrash(x1, u"Read-only file system"_s);
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    QSignalSpy listed(local.get(), &LocalBrowser::localFilesChanged);

    runSync(local->trashLocalFiles(local->localFiles()));
    EXPECT_EQ(failures.value(failures.size() - 1), u"Không thể chuyển vào thùng rác: Read-only file system"_s);
    EXPECT_TRUE(notices.isEmpty());
    EXPECT_EQ(listed.count(), 0);
}

TEST_F(LocalPane, OnlyTheMostRecentListingIsPublished)
{
    // The first request reads a big folder and ends last; its result must not win.
    QDir(root).mkdir(u"big"_s);
    for (int i = 0; i < 4000; ++i)
        QFile(root + u"/big/f"_s + QString::number(i)).open(QIODevice::WriteOnly);
    QDir(root).mkdir(u"small"_s);
    auto local = makeBrowser();

    auto first = local->navigateLocal(root + u"/big"_s);
    auto second = local->navigateLocal(root + u"/small"_s);
    runSync(std::move(second));
    runSync(std::move(first));
    EXPECT_EQ(local->localURL(), root + u"/small"_s);
    EXPECT_TRUE(local->localFiles().isEmpty());

    // A stale failure is dropped as well.
    auto failing = local->navigateLocal(root + u"/missing"_s);
    auto good = local->navigateLocal(root);
    runSync(std::move(failing));
    runSync(std::move(good));
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
    EXPECT_EQ(local->localURL(), root);
}

TEST_F(LocalPane, SelectedBytesCountOnlyListedEntries)
{
    writeFile(root + u"/one"_s, QByteArray(100, 'x'));
    writeFile(root + u"/two"_s, QByteArray(23, 'x'));
    QDir(root).mkdir(u"dir"_s);
    auto local = makeBrowser();
    runSync(local->navigateLocal(root));
    local->setLocalSelection(
        {root + u"/one"_s, root + u"/two"_s, root + u"/dir"_s, root + u"/deleted-meanwhile"_s});
    EXPECT_EQ(local->localSelectedBytes(), 123);
}

TEST_F(LocalPane, ChoosingAFolderAsksWithTheFixedTextsAndListsTheAnswer)
{
    QDir(root).mkdir(u"picked"_s);
    auto local = makeBrowser();
    desktop.answerFolder(root + u"/picked"_s);
    runSync(local->chooseLocal());
    ASSERT_EQ(desktop.folderRequests.size(), 1);
    EXPECT_EQ(desktop.folderRequests.at(0).prompt, u"Chọn thư mục"_s);
    EXPECT_EQ(desktop.folderRequests.at(0).message,
              u"Chọn thư mục anh muốn duyệt trong Tarnwick."_s);
    EXPECT_EQ(local->localURL(), root + u"/picked"_s);

    runSync(local->chooseLocal()); // cancelled
    EXPECT_EQ(desktop.folderRequests.at(1).directory, root + u"/picked"_s);
    EXPECT_EQ(local->localURL(), root + u"/picked"_s);
}

TEST(LocalFileRecord, NameAndSortDateFollowThePath)
{
    const LocalFile file{u"/home/u/Ảnh/x.tar.gz"_s, false, 5, std::nullopt};
    EXPECT_EQ(file.name(), u"x.tar.gz"_s);
    EXPECT_EQ(file.id(), u"/home/u/Ảnh/x.tar.gz"_s);
    EXPECT_LT(file.modifiedSort(), QDateTime::fromSecsSinceEpoch(-4000000000LL));
    EXPECT_EQ((LocalFile{u"/"_s, true, 0, std::nullopt}).name(), u"/"_s);
}

} // namespace
