// The Drive pane: stale listings, navigation, the three areas, item operations and the browser.
#include "modeltesting.h"
#include "support/testsupport.h"

#include "net/endpoints.h"
#include "async/async.h"
#include "async/runsync.h"
#include "drive/driveclient.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using Emulator::FaultRule;

namespace {

class CloudPane : public ModelTest
{
protected:
    CloudPane()
    {
        folderA = emulator.createFolder(account.email, u"A"_s);
        folderB = emulator.createFolder(account.email, u"B"_s);
        emulator.createFile(account.email, u"in A.txt"_s, "a", folderA);
        emulator.createFile(account.email, u"in B.txt"_s, "b", folderB);
    }

    DriveFile folder(const QString &id) const
    {
        return DriveFile::fromJson(*emulator.itemMetadata(id));
    }
    // Holds back (or fails) the listing of one folder.
    void slowListing(const QString &id, std::chrono::milliseconds by, int status = 0)
    {
        FaultRule rule = FaultRule::delayBy(by, u"GET"_s, u"^/drive/v3/files$"_s);
        rule.query = id;
        emulator.addFault(rule);
        if (status) {
            FaultRule failing = FaultRule::respond(status, u"GET"_s, u"^/drive/v3/files$"_s);
            failing.query = id;
            emulator.addFault(failing);
        }
    }
    bool trashed(const QString &id) const
    {
        return emulator.itemMetadata(id)->value(u"trashed"_s).toBool();
    }
    qsizetype listings() const
    {
        return requests(u"GET"_s, u"^/drive/v3/(files|drives)$"_s).size();
    }
    bool settled(AppModel &model, qsizetype expected)
    {
        return waitUntil([&] { return listings() == expected && !model.cloud().loading(); });
    }

    QString folderA;
    QString folderB;
};

} // namespace

TEST_F(CloudPane, OlderListingAnsweringLastIsNeverShownAndLoadingFollowsTheNewest)
{
    auto model = signedInModel();
    QSignalSpy loading(&model->cloud(), &DriveBrowser::loadingChanged);
    slowListing(folderA, 400ms);
    model->cloud().openCloud(folder(folderA));
    model->cloud().openCloud(folder(folderB));
    ASSERT_TRUE(waitUntil([&] { return !model->cloud().loading(); }));
    EXPECT_EQ(names(model->cloud().cloudFiles()), QStringList{u"in B.txt"_s});
    // A's listing was stopped when B's replaced it; past its delay nothing of it shows.
    QTest::qWait(450);
    EXPECT_LE(listings(), 2);
    EXPECT_EQ(names(model->cloud().cloudFiles()), QStringList{u"in B.txt"_s});
    EXPECT_EQ(loading.count(), 2); // on once, off once
}

TEST_F(CloudPane, FailureOfASupersededListingIsDroppedAndOfTheNewestKeepsTheItems)
{
    auto model = signedInModel();
    slowListing(folderA, 300ms, 500);
    model->cloud().openCloud(folder(folderA));
    model->cloud().goBackCloud();
    ASSERT_TRUE(waitUntil([&] { return !model->cloud().loading() && !model->cloud().cloudFiles().isEmpty(); }));
    // Past the delay of A's stopped listing, its failure shows nowhere.
    QTest::qWait(350);
    EXPECT_FALSE(model->cloud().cloudLoadError().has_value());
    EXPECT_EQ(names(model->cloud().cloudFiles()), (QStringList{u"A"_s, u"B"_s}));

    emulator.addFault(FaultRule::respond(500, u"GET"_s, u"^/drive/v3/files$"_s));
    runSync(model->cloud().refreshCloud());
    EXPECT_TRUE(model->cloud().cloudLoadError().has_value());
    EXPECT_EQ(names(model->cloud().cloudFiles()), (QStringList{u"A"_s, u"B"_s}));
    EXPECT_FALSE(model->cloud().loading());
}

TEST_F(CloudPane, NavigationGuardsWhatEachStepClearsAndThePath)
{
    auto model = signedInModel();
    EXPECT_EQ(model->cloud().currentCloudPath(), u"/Drive của tôi"_s);
    model->cloud().openCloud(folder(folderA));
    model->cloud().openCloud(folder(folderB));
    // A's listing, replaced by B's at once, may or may not have reached the server.
    ASSERT_TRUE(waitUntil([&] { return !model->cloud().loading() && !model->cloud().cloudFiles().isEmpty(); }));
    const qsizetype listed = listings();
    EXPECT_EQ(model->cloud().currentCloudPath(), u"/A/B"_s);
    EXPECT_EQ(model->cloud().cloudParent(), folderB);

    QSignalSpy crumbs(&model->cloud(), &DriveBrowser::crumbsChanged);
    model->cloud().navigateToCrumb(2);
    model->cloud().navigateToCrumb(-1);
    QTest::qWait(50);
    EXPECT_EQ(crumbs.count(), 0);
    EXPECT_EQ(listings(), listed);

    // Going up keeps the search; entering a folder clears it.
    model->cloud().setCloudSearch(u"x"_s);
    model->cloud().navigateToCrumb(0);
    EXPECT_EQ(model->cloud().crumbs(), (QList<Crumb>{{folderA, u"A"_s}}));
    EXPECT_TRUE(model->cloud().cloudFiles().isEmpty());
    EXPECT_EQ(model->cloud().cloudSearch(), u"x"_s);
    model->cloud().openCloud(folder(folderB));
    EXPECT_EQ(model->cloud().cloudSearch(), QString());
    ASSERT_TRUE(waitUntil([&] {
        return !model->cloud().loading() && names(model->cloud().cloudFiles()) == QStringList{u"in B.txt"_s};
    }));
}

TEST_F(CloudPane, SharedAndTeamRootsListTheirOwnWayAndTakeNoUploads)
{
    emulator.addUser(u"binh@example.com"_s);
    const QString shared = emulator.createFolder(u"binh@example.com"_s, u"Chia sẻ"_s);
    emulator.share(shared, account.email, u"writer"_s);
    const QString drive = emulator.createSharedDrive(u"Nhóm"_s, {{account.email, u"organizer"_s}});
    emulator.createFile(account.email, u"kế hoạch.txt"_s, "k", drive);
    auto model = signedInModel();
    EXPECT_TRUE(model->cloud().canUpload());

    model->cloud().changeLocation(DriveLocation::Shared);
    ASSERT_TRUE(settled(*model, 1));
    EXPECT_FALSE(model->cloud().canUpload());
    EXPECT_EQ(names(model->cloud().cloudFiles()), QStringList{u"Chia sẻ"_s});
    EXPECT_TRUE(
        requests(u"GET"_s, u"/files$"_s).last().queryValue(u"q"_s).contains(u"sharedWithMe"_s));
    model->cloud().openCloud(model->cloud().cloudFiles().at(0));
    ASSERT_TRUE(settled(*model, 2));
    EXPECT_TRUE(model->cloud().canUpload());
    const QString inside = requests(u"GET"_s, u"/files$"_s).last().queryValue(u"q"_s);
    EXPECT_TRUE(inside.contains(shared));
    EXPECT_FALSE(inside.contains(u"sharedWithMe"_s));

    model->cloud().changeLocation(DriveLocation::Team);
    ASSERT_TRUE(settled(*model, 3));
    EXPECT_FALSE(model->cloud().canUpload());
    ASSERT_EQ(names(model->cloud().cloudFiles()), QStringList{u"Nhóm"_s});
    model->cloud().openCloud(model->cloud().cloudFiles().at(0));
    ASSERT_TRUE(settled(*model, 4));
    EXPECT_TRUE(model->cloud().canUpload());
    EXPECT_EQ(names(model->cloud().cloudFiles()), QStringList{u"kế hoạch.txt"_s});
    runSync(model->connection().disconnect());
    EXPECT_FALSE(model->cloud().canUpload());
}

TEST_F(CloudPane, SelectionSearchSortAndTheThrottle)
{
    const QString big = emulator.createFile(account.email, u"lớn.bin"_s, QByteArray(300, 'x'));
    const QString gone = emulator.createFile(account.email, u"Lỗi.bin"_s, QByteArray(20, 'x'));
    auto model = signedInModel();
    model->cloud().setCloudSelection({big, gone, folderA});
    EXPECT_EQ(model->cloud().cloudSelectedBytes(), 320);

    model->cloud().setCloudSearch(u"L"_s);
    model->cloud().setCloudSort(SortOption{SortOption::Key::Size, true, false});
    EXPECT_EQ(names(model->cloud().visibleCloud()), (QStringList{u"Lỗi.bin"_s, u"lớn.bin"_s}));
    // Typed without marks, the search still finds the names with them.
    model->cloud().setCloudSearch(u"loi"_s);
    EXPECT_EQ(names(model->cloud().visibleCloud()), QStringList{u"Lỗi.bin"_s});
    model->cloud().setCloudSearch(u"L"_s);

    emulator.trash(gone);
    runSync(model->cloud().refreshCloudThrottled());
    EXPECT_EQ(model->cloud().cloudSelection(), (QSet<QString>{big, folderA}));
    clock.advance(1s);
    runSync(model->cloud().refreshCloudThrottled());
    EXPECT_EQ(listings(), 1);
    clock.advance(1s);
    runSync(model->cloud().refreshCloudThrottled());
    EXPECT_EQ(listings(), 2);
}

TEST_F(CloudPane, ItemOperationsReportFailuresAndRelist)
{
    auto model = signedInModel();
    model->cloud().openCloud(folder(folderA));
    ASSERT_TRUE(settled(*model, 1));
    runSync(model->cloud().createFolder(u"Mới"_s));
    EXPECT_FALSE(emulator.findChild(folderA, u"Mới"_s).isEmpty());
    EXPECT_TRUE(names(model->cloud().cloudFiles()).contains(u"Mới"_s));

    const QList<DriveFile> items = model->cloud().cloudFiles();
    ASSERT_EQ(items.size(), 2);
    const DriveFile third = folder(emulator.createFile(account.email, u"c"_s, "c", folderA));
    emulator.addFault(FaultRule::respondError(403, u"insufficientFilePermissions"_s, u"no"_s,
                                              u"PATCH"_s, u"^/drive/v3/files/"_s + items.at(1).id));
    const qsizetype before = listings();
    runSync(model->cloud().trashFiles({items.at(0), items.at(1), third}));
    EXPECT_TRUE(model->error().has_value());
    EXPECT_TRUE(trashed(items.at(0).id));
    EXPECT_FALSE(trashed(items.at(1).id));
    EXPECT_FALSE(trashed(third.id));
    EXPECT_EQ(listings(), before + 1);

    model->setError(std::nullopt);
    runSync(model->cloud().deleteDriveFilesPermanently({items.at(1), third}));
    EXPECT_EQ(model->toastMessage(), u"Đã xoá vĩnh viễn 2 mục"_s);
    EXPECT_FALSE(emulator.exists(third.id));
    EXPECT_FALSE(model->error().has_value());

    model->setToastMessage(std::nullopt);
    emulator.addFault(FaultRule::respond(500, u"DELETE"_s));
    const DriveFile last = folder(emulator.createFile(account.email, u"d"_s, "d", folderA));
    runSync(model->cloud().deleteDriveFilesPermanently({last}));
    ASSERT_TRUE(model->error().has_value());
    EXPECT_TRUE(model->error()->startsWith(u"Không xoá được: "_s));
    EXPECT_FALSE(model->toastMessage().has_value());
    EXPECT_EQ(listings(), before + 3);
}

// Deleting frees quota on Drive: the window's figure follows without a restart, and "Làm mới"
// fetches it again too.
TEST_F(CloudPane, DeletionsAndRefreshReloadTheQuota)
{
    const QString big = emulator.createFile(account.email, u"big.bin"_s, QByteArray(3 << 20, 'b'));
    auto model = signedInModel();
    ASSERT_TRUE(model->connection().quota().has_value());
    const auto usage = [&] { return model->connection().quota()->usage.value_or(QString()).toLongLong(); };
    const qint64 before = usage();
    EXPECT_GE(before, 3 << 20);
    runSync(model->cloud().deleteDriveFilesPermanently({folder(big)}));
    EXPECT_EQ(usage(), before - (3 << 20));

    emulator.createFile(account.email, u"more.bin"_s, QByteArray(1 << 20, 'm'));
    runSync(model->cloud().refreshCloudAndAccount());
    EXPECT_EQ(usage(), before - (2 << 20));
}

TEST_F(CloudPane, OnlyGooglePagesOverHttpsAreOpened)
{
    auto model = signedInModel();
    // The emulator's own pages count while the endpoints point at it.
    model->cloud().openCloud(DriveFile::fromJson(
        *emulator.itemMetadata(emulator.createFile(account.email, u"e.txt"_s, "e"))));
    ASSERT_EQ(desktop.openedUrls.size(), 1);
    EXPECT_EQ(desktop.openedUrls.at(0).host(), u"127.0.0.1"_s);

    Endpoints::setCurrent(Endpoints::defaults());
    desktop.openedUrls.clear();
    const auto open = [&](std::optional<QString> link) {
        DriveFile file(u"f1"_s, u"f"_s, u"text/plain"_s);
        file.webViewLink = link;
        model->cloud().openInBrowser(file);
    };
    for (const QString &bad : {u"http://drive.google.com/x"_s, u"https://google.com.evil.com/x"_s,
                               u"https://notgoogle.com/x"_s, u"javascript:alert(1)"_s})
        open(bad);
    EXPECT_TRUE(desktop.openedUrls.isEmpty());
    open(u"https://docs.google.com/document/d/f1/edit"_s);
    open(u"https://google.com/x"_s);
    open(std::nullopt);
    open(u"not a url"_s);
    EXPECT_EQ(desktop.openedUrls,
              (QList<QUrl>{QUrl(u"https://docs.google.com/document/d/f1/edit"_s),
                           QUrl(u"https://google.com/x"_s),
                           QUrl(u"https://drive.google.com/file/d/f1/view"_s),
                           QUrl(u"https://drive.google.com/file/d/f1/view"_s)}));
}

// A server that pages forever: each reload replaces the listing before it, which stops at once
// instead of running on to its ceiling (ten of them held 1.7 GB).
TEST_F(CloudPane, ReloadsOfAnEndlessListingStopTheListingsTheyReplace)
{
    auto model = signedInModel();
    emulator.setEndlessPages(true);
    emulator.clearRequestLog();
    for (int i = 0; i < 10; ++i)
        detach(model->cloud().refreshCloud(), {});
    // The last one alone runs on, to its ceiling.
    ASSERT_TRUE(waitUntil([&] { return model->cloud().cloudLoadError().has_value(); }, 120s));
    EXPECT_EQ(model->cloud().cloudLoadError(), DriveClient::listingTooLongMessage());
    EXPECT_FALSE(model->cloud().loading());
    const qsizetype ceiling = DriveClient::ListingLimits{}.pages;
    EXPECT_LE(listings(), ceiling + 1 + 2 * 9);
    emulator.setEndlessPages(false);
}

