#include "appmodel.h"
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
using Tarnwick::LocalFile;
using Tarnwick::LocalFolderListing;
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

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_root;
    QTemporaryDir m_trash;
    QString root;
    ScriptedDesktop desktop{m_trash.path() + u"/Trash"_s};
};

TEST_F(LocalPane, ListingLeavesOutHiddenEntriesAndLinksAndPutsFoldersFirst)
{
    makeMixedFolder();
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));

    EXPECT_EQ(names(model.localFiles()), (QStringList{u"A"_s, u"Z"_s, u"a.txt"_s, u"b.txt"_s}));
    const LocalFile &folder = model.localFiles().at(0);
    EXPECT_TRUE(folder.isFolder);
    EXPECT_EQ(folder.size, 0);
    EXPECT_EQ(folder.url, root + u"/A"_s);
    const LocalFile &file = model.localFiles().at(2);
    EXPECT_FALSE(file.isFolder);
    EXPECT_EQ(file.size, 10);
    ASSERT_TRUE(file.modified.has_value());
    EXPECT_LT(qAbs(file.modified->secsTo(QDateTime::currentDateTimeUtc())), 60);
    EXPECT_EQ(model.localURL(), root);
    EXPECT_EQ(QSettings().value(AppModel::localFolderKey).toString(), root);
    EXPECT_FALSE(model.error().has_value());
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
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    const QList<LocalFile> listed = model.localFiles();

    QSignalSpy sortChanged(&model, &AppModel::localSortChanged);
    model.setLocalSort(SortOption{SortOption::Key::Size, false, false});
    EXPECT_EQ(sortChanged.count(), 1);
    EXPECT_EQ(names(model.visibleLocal()), (QStringList{u"a.txt"_s, u"b.txt"_s, u"A"_s, u"Z"_s}));
    EXPECT_EQ(model.localFiles(), listed);

    // The choice is stored and read back by the next model.
    AppModel next(&desktop);
    EXPECT_EQ(next.localSort(), (SortOption{SortOption::Key::Size, false, false}));
}

TEST_F(LocalPane, UnreadableSortSettingFallsBackToNameAscendingFoldersFirst)
{
    for (const QByteArray &stored :
         {QByteArray("garbage"),
          QByteArray(R"({"key":"colour","ascending":false,"foldersFirst":false})"),
          QByteArray(R"({"key":"size","ascending":false})")}) {
        QSettings().setValue(AppModel::sortLocalKey, stored);
        AppModel model(&desktop);
        EXPECT_EQ(model.localSort(), (SortOption{SortOption::Key::Name, true, true}))
            << stored.data();
    }
}

TEST_F(LocalPane, SearchIsCaseInsensitiveAndNavigationEmptiesIt)
{
    makeMixedFolder();
    writeFile(root + u"/Ảnh.png"_s, "x"); // precomposed on disk
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));

    model.setLocalSearch(u"TXT"_s);
    EXPECT_EQ(names(model.visibleLocal()), (QStringList{u"a.txt"_s, u"b.txt"_s}));
    // A decomposed search text still finds the precomposed name.
    model.setLocalSearch(u"a\u0309nh"_s);
    EXPECT_EQ(names(model.visibleLocal()), (QStringList{u"Ảnh.png"_s}));
    // Used as typed: a trailing space is part of the text.
    model.setLocalSearch(u"txt "_s);
    EXPECT_TRUE(model.visibleLocal().isEmpty());
    model.setLocalSearch(QString());
    EXPECT_EQ(model.visibleLocal().size(), 5);

    model.setLocalSearch(u"a"_s);
    QDir(root).mkdir(u"Sub"_s);
    QSignalSpy searchChanged(&model, &AppModel::localSearchChanged);
    runSync(model.navigateLocal(root + u"/Sub"_s));
    EXPECT_TRUE(model.localSearch().isEmpty());
    EXPECT_EQ(searchChanged.count(), 1);
    EXPECT_EQ(model.localURL(), root + u"/Sub"_s);
}

TEST_F(LocalPane, SearchWithoutMarksFindsVietnameseNames)
{
    for (const QString &name : {u"Hợp đồng.pdf"_s, u"hộp thư.txt"_s, u"ĐƠN XIN.doc"_s,
                                u"Ho so.txt"_s, u"Ảnh.png"_s})
        writeFile(root + u"/"_s + name, "x");
    // Written decomposed, as another system may store it.
    writeFile(root + u"/"_s + u"Hợp lệ.txt"_s.normalized(QString::NormalizationForm_D), "x");
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    auto found = [&](const QString &search) {
        model.setLocalSearch(search);
        QStringList got;
        for (const LocalFile &file : model.visibleLocal())
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
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    model.setLocalSelection({root + u"/a.txt"_s});
    writeFile(root + u"/c.txt"_s, "new");
    runSync(model.navigateLocal(root + u"/"_s)); // the same folder, spelled differently
    EXPECT_TRUE(model.localSelection().isEmpty());
    EXPECT_EQ(model.localURL(), root);
    EXPECT_TRUE(names(model.localFiles()).contains(u"c.txt"_s));
}

TEST_F(LocalPane, FailedListingKeepsThePaneAndReportsTheSystemText)
{
    makeMixedFolder();
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    model.setLocalSelection({root + u"/a.txt"_s});
    model.setLocalSearch(u"a"_s);
    const QList<LocalFile> before = model.localFiles();

    runSync(model.navigateLocal(root + u"/gone"_s));
    EXPECT_EQ(model.error(), u"Không mở được thư mục: No such file or directory"_s);
    EXPECT_EQ(model.localURL(), root);
    EXPECT_EQ(model.localFiles(), before);
    EXPECT_EQ(model.localSelection(), QSet<QString>{root + u"/a.txt"_s});
    EXPECT_EQ(model.localSearch(), u"a"_s);
    EXPECT_EQ(QSettings().value(AppModel::localFolderKey).toString(), root);
}

TEST_F(LocalPane, StartUpReopensTheStoredFolderOnce)
{
    makeMixedFolder();
    QSettings().setValue(AppModel::localFolderKey, root);
    AppModel model(&desktop);
    runSync(model.initialize());
    EXPECT_EQ(model.localURL(), root);
    EXPECT_EQ(model.localFiles().size(), 4);

    QSignalSpy listed(&model, &AppModel::localFilesChanged);
    runSync(model.initialize());
    EXPECT_EQ(listed.count(), 0);
}

TEST_F(LocalPane, StartUpWithAVanishedFolderLeavesTheFirstUseState)
{
    QSettings().setValue(AppModel::localFolderKey, root + u"/vanished"_s);
    AppModel model(&desktop);
    runSync(model.initialize());
    EXPECT_FALSE(model.localURL().has_value());
    EXPECT_TRUE(model.error().has_value());

    QSettings().remove(AppModel::localFolderKey);
    AppModel fresh(&desktop);
    runSync(fresh.initialize());
    EXPECT_FALSE(fresh.localURL().has_value());
    EXPECT_FALSE(fresh.error().has_value());
}

TEST_F(LocalPane, ThrottledRefreshRunsAtMostEveryTwoSeconds)
{
    Tarnwick::TestClock clock;
    AppModel model(&desktop);
    QSignalSpy listed(&model, &AppModel::localFilesChanged);

    runSync(model.navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 1);
    clock.advance(1s);
    runSync(model.navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 1);
    clock.advance(1s);
    runSync(model.navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 2);
    // Unthrottled listings do not count against the throttle.
    runSync(model.navigateLocal(root));
    EXPECT_EQ(listed.count(), 3);
    runSync(model.navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 3);
    // A clock set back an hour does not hold refreshes off until it catches up.
    clock.advance(-1h);
    runSync(model.navigateLocalThrottled(root));
    EXPECT_EQ(listed.count(), 4);
}

TEST_F(LocalPane, TrashingGoesOnPastAFailureAndReportsIt)
{
    const QString x1 = writeFile(root + u"/x1"_s, "1");
    const QString x2 = writeFile(root + u"/x2"_s, "2");
    const QString x3 = writeFile(root + u"/x3"_s, "3");
    desktop.failTrash(x2, u"Permission denied"_s);
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));

    runSync(model.trashLocalFiles(model.localFiles()));
    EXPECT_EQ(desktop.trashRequests, (QStringList{x1, x2, x3}));
    EXPECT_EQ(model.error(), u"Không thể chuyển vào thùng rác: Permission denied"_s);
    EXPECT_EQ(model.toastMessage(), u"Đã chuyển 2 mục vào thùng rác"_s);
    EXPECT_EQ(names(model.localFiles()), QStringList{u"x2"_s});
}

TEST_F(LocalPane, TrashingWhereEverythingFailsNeitherNotifiesNorRelists)
{
    const QString x1 = writeFile(root + u"/x1"_s, "1");
    desktop.failTrash(x1, u"Read-only file system"_s);
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    QSignalSpy listed(&model, &AppModel::localFilesChanged);

    runSync(model.trashLocalFiles(model.localFiles()));
    EXPECT_EQ(model.error(), u"Không thể chuyển vào thùng rác: Read-only file system"_s);
    EXPECT_FALSE(model.toastMessage().has_value());
    EXPECT_EQ(listed.count(), 0);
}

TEST_F(LocalPane, OnlyTheMostRecentListingIsPublished)
{
    // The first request reads a big folder and ends last; its result must not win.
    QDir(root).mkdir(u"big"_s);
    for (int i = 0; i < 4000; ++i)
        QFile(root + u"/big/f"_s + QString::number(i)).open(QIODevice::WriteOnly);
    QDir(root).mkdir(u"small"_s);
    AppModel model(&desktop);

    auto first = model.navigateLocal(root + u"/big"_s);
    auto second = model.navigateLocal(root + u"/small"_s);
    runSync(std::move(second));
    runSync(std::move(first));
    EXPECT_EQ(model.localURL(), root + u"/small"_s);
    EXPECT_TRUE(model.localFiles().isEmpty());

    // A stale failure is dropped as well.
    auto failing = model.navigateLocal(root + u"/missing"_s);
    auto good = model.navigateLocal(root);
    runSync(std::move(failing));
    runSync(std::move(good));
    EXPECT_FALSE(model.error().has_value());
    EXPECT_EQ(model.localURL(), root);
}

TEST_F(LocalPane, SelectedBytesCountOnlyListedEntries)
{
    writeFile(root + u"/one"_s, QByteArray(100, 'x'));
    writeFile(root + u"/two"_s, QByteArray(23, 'x'));
    QDir(root).mkdir(u"dir"_s);
    AppModel model(&desktop);
    runSync(model.navigateLocal(root));
    model.setLocalSelection(
        {root + u"/one"_s, root + u"/two"_s, root + u"/dir"_s, root + u"/deleted-meanwhile"_s});
    EXPECT_EQ(model.localSelectedBytes(), 123);
}

TEST_F(LocalPane, ChoosingAFolderAsksWithTheFixedTextsAndListsTheAnswer)
{
    QDir(root).mkdir(u"picked"_s);
    AppModel model(&desktop);
    desktop.answerFolder(root + u"/picked"_s);
    runSync(model.chooseLocal());
    ASSERT_EQ(desktop.folderRequests.size(), 1);
    EXPECT_EQ(desktop.folderRequests.at(0).prompt, u"Chọn thư mục"_s);
    EXPECT_EQ(desktop.folderRequests.at(0).message,
              u"Chọn thư mục anh muốn duyệt trong Tarnwick."_s);
    EXPECT_EQ(model.localURL(), root + u"/picked"_s);

    runSync(model.chooseLocal()); // cancelled
    EXPECT_EQ(desktop.folderRequests.at(1).directory, root + u"/picked"_s);
    EXPECT_EQ(model.localURL(), root + u"/picked"_s);
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
