#include "drivetesting.h"

#include "drive/decodingerror.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

const QString itemFields = u"id,name,mimeType,size,modifiedTime,webViewLink,thumbnailLink,"
                           "capabilities(canAddChildren,canEdit,canTrash,canDownload)"_s;
const QString folderType = u"application/vnd.google-apps.folder"_s;

class DriveBrowse : public Testing::DriveClientTest
{
protected:
    const QString root = account.rootFolderId;
    const Query itemQuery{{u"supportsAllDrives"_s, u"true"_s}, {u"fields"_s, itemFields}};
    const Query allDrives{{u"supportsAllDrives"_s, u"true"_s}};

    Query listQuery(const QString &q) const
    {
        return {{u"q"_s, q},
                {u"fields"_s, u"nextPageToken,files("_s + itemFields + u")"_s},
                {u"pageSize"_s, u"1000"_s},
                {u"orderBy"_s, u"folder,name_natural"_s},
                {u"supportsAllDrives"_s, u"true"_s},
                {u"includeItemsFromAllDrives"_s, u"true"_s}};
    }

    // `folders` folders "d001"… then n files "f00001"… of 1, 2… bytes: Drive's listing order.
    QStringList fill(const QString &parent, int n, int folders = 0)
    {
        QStringList ids;
        for (int i = 1; i <= folders; ++i)
            ids.append(
                emulator.createFolder(account.email, u"d%1"_s.arg(i, 3, 10, QChar(u'0')), parent));
        for (int i = 1; i <= n; ++i)
            ids.append(emulator.createGeneratedFile(
                account.email, u"f%1"_s.arg(i, 5, 10, QChar(u'0')), i, quint64(i), parent));
        return ids;
    }

    static QStringList idsOf(const QList<DriveFile> &files)
    {
        QStringList ids;
        for (const DriveFile &f : files)
            ids.append(f.id);
        return ids;
    }
};

TEST_F(DriveBrowse, AccountReadsUserAndQuotaAndNeedsTheUser)
{
    emulator.setQuota(account.email, 15'000'000'000LL);
    emulator.createFile(account.email, u"a.bin"_s, QByteArray(1234, 'x'));

    const DriveClient::Account result = run(client.account());

    EXPECT_EQ(result.user, DriveClient::Account::User({account.displayName, account.email}));
    EXPECT_EQ(result.storageQuota, DriveClient::Account::Quota({u"15000000000"_s, u"1234"_s}));
    ASSERT_EQ(requests().size(), 1);
    expectRequest(requests()[0], u"GET"_s, u"/drive/v3/about"_s,
                  {{u"fields"_s, u"user(displayName,emailAddress),storageQuota(limit,usage)"_s}});
    EXPECT_EQ(requests()[0].bodyLength, 0);

    emulator.setQuota(account.email, std::nullopt); // unlimited: no limit
    EXPECT_EQ(run(client.account()).storageQuota->limit, std::nullopt);
    answerOnce(200, R"({"storageQuota":{"usage":"1"}})");
    EXPECT_THROW(run(client.account()), DecodingError);
}

TEST_F(DriveBrowse, ListReadsEveryPageInServerOrder)
{
    emulator.setListingPages(false);
    const QStringList expected = fill(root, 2497, 3);

    const QList<DriveFile> files = run(client.list(root, false));

    EXPECT_EQ(idsOf(files), expected);
    EXPECT_TRUE(files.first().isFolder());
    EXPECT_EQ(files.last().name, u"f02497"_s);
    EXPECT_EQ(files.last().bytes(), 2497);
    ASSERT_TRUE(files.last().capabilities);
    EXPECT_EQ(files.last().capabilities->canTrash, true);
    const auto log = requests();
    ASSERT_EQ(log.size(), 3);
    const Query first = listQuery(u"'"_s + root + u"' in parents and trashed = false"_s);
    expectRequest(log[0], u"GET"_s, u"/drive/v3/files"_s, first);
    QStringList tokens;
    for (int i = 1; i < 3; ++i) {
        Query next = first;
        tokens.append(queryOf(log[i]).value(u"pageToken"_s));
        next.insert(u"pageToken"_s, tokens.last());
        expectRequest(log[i], u"GET"_s, u"/drive/v3/files"_s, next);
    }
    EXPECT_FALSE(tokens[0].isEmpty());
    EXPECT_NE(tokens[0], tokens[1]);
}

TEST_F(DriveBrowse, ListFollowsShortAndEmptyPagesAndStopsAtAFullPageWithoutToken)
{
    emulator.setListingPages(true, 2, 3);
    const QStringList expected = fill(root, 3000);
    EXPECT_EQ(idsOf(run(client.list(root, false))), expected);
    EXPECT_GT(requests().size(), 4);

    emulator.setListingPages(false);
    const QString folder = emulator.createFolder(account.email, u"full"_s);
    fill(folder, 1000);
    clearRequests();
    EXPECT_EQ(run(client.list(folder, false)).size(), 1000);
    EXPECT_EQ(requests().size(), 1);
}

TEST_F(DriveBrowse, FailedLaterPageFailsTheWholeListing)
{
    emulator.setListingPages(false);
    fill(root, 1500);
    FaultRule rule = FaultRule::respondHtml(503, u"GET"_s, u"^/drive/v3/files$"_s);
    rule.query = u"pageToken="_s;
    emulator.addFault(rule);

    const DriveAPIError error = failure<DriveAPIError>(client.list(root, false));

    EXPECT_EQ(error.status(), 503);
    EXPECT_EQ(error.message(), u"Không kết nối được Google Drive (503)."_s);
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(DriveBrowse, MalformedPagesFailAndTokensThatWouldLoopForeverEndTheListing)
{
    answerOnce(200, R"({"nextPageToken":"x"})");
    EXPECT_THROW(run(client.list(root, false)), DecodingError);

    // An empty token ends the listing like a missing one.
    answerOnce(200, R"({"files":[{"id":"a1","name":"A"}],"nextPageToken":""})");
    clearRequests();
    EXPECT_EQ(run(client.list(root, false)), QList{DriveFile(u"a1"_s, u"A"_s, std::nullopt)});
    EXPECT_EQ(requests().size(), 1);

    // A token handed out again fails instead of reading the same pages forever.
    FaultRule same = FaultRule::respond(200, u"GET"_s, u"^/drive/v3/files$"_s);
    same.body = R"({"files":[],"nextPageToken":"again"})";
    same.times = 0;
    emulator.addFault(same);
    clearRequests();
    EXPECT_THROW(run(client.list(root, false)), DecodingError);
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(DriveBrowse, PagesThatNeverEndStopAtTheListingLimits)
{
    emulator.setEndlessPages(true);
    client.setListingLimits({.pages = 40, .items = 100});

    // Empty pages, each with a new token: the page limit.
    const QString empty = emulator.createFolder(account.email, u"rỗng"_s);
    clearRequests();
    EXPECT_EQ(failure<TarnwickError>(client.list(empty, false)).message(),
              DriveClient::listingTooLongMessage());
    EXPECT_EQ(requests().size(), 40);

    // The same seven items over and over: the item limit, reached on the fifteenth page.
    const QString folder = emulator.createFolder(account.email, u"vòng"_s);
    fill(folder, 7);
    clearRequests();
    EXPECT_EQ(failure<TarnwickError>(client.list(folder, false)).message(),
              DriveClient::listingTooLongMessage());
    EXPECT_EQ(requests().size(), 15);

    // Exactly at the limit is still a listing.
    emulator.setEndlessPages(false);
    client.setListingLimits({.pages = 1, .items = 7});
    EXPECT_EQ(run(client.list(folder, false)).size(), 7);
}

TEST_F(DriveBrowse, SharedWithMeIgnoresTheParent)
{
    const QString other = u"binh.tran@example.com"_s;
    emulator.addUser(other, u"Bình"_s);
    const QString shared = emulator.createFile(other, u"Kế hoạch.txt"_s, "x");
    emulator.share(shared, account.email, u"reader"_s);
    emulator.createFile(account.email, u"mine.txt"_s, "y");

    EXPECT_EQ(idsOf(run(client.list(u"ignored'\\"_s, true))), QStringList{shared});
    ASSERT_EQ(requests().size(), 1);
    expectRequest(requests()[0], u"GET"_s, u"/drive/v3/files"_s,
                  listQuery(u"sharedWithMe = true and trashed = false"_s));
}

TEST_F(DriveBrowse, SharedDrivesArePresentedAsFoldersAcrossPages)
{
    QSet<DriveFile> expected;
    for (int i = 1; i <= 130; ++i) {
        const QString name = u"Nhóm %1"_s.arg(i);
        expected.insert(DriveFile(emulator.createSharedDrive(name, {{account.email, u"reader"_s}}),
                                  name, folderType));
    }

    const QList<DriveFile> drives = run(client.sharedDrives());

    ASSERT_EQ(drives.size(), expected.size());
    EXPECT_EQ(QSet<DriveFile>(drives.begin(), drives.end()), expected);
    EXPECT_TRUE(drives[0].isFolder());
    EXPECT_EQ(drives[0].bytes(), 0);
    EXPECT_EQ(drives[0].capabilities, std::nullopt);
    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    Query query{{u"pageSize"_s, u"100"_s}, {u"fields"_s, u"nextPageToken,drives(id,name)"_s}};
    expectRequest(log[0], u"GET"_s, u"/drive/v3/drives"_s, query);
    EXPECT_FALSE(queryOf(log[1]).value(u"pageToken"_s).isEmpty());
    query.insert(u"pageToken"_s, queryOf(log[1]).value(u"pageToken"_s));
    expectRequest(log[1], u"GET"_s, u"/drive/v3/drives"_s, query);
}

TEST_F(DriveBrowse, SharedDriveItemsAreListedAndFound)
{
    const QString drive =
        emulator.createSharedDrive(u"Marketing"_s, {{account.email, u"writer"_s}});
    const QString id = emulator.createFile(account.email, u"Ngân sách.xlsx"_s, "12345", drive);

    EXPECT_EQ(idsOf(run(client.list(drive, false))), QStringList{id});
    clearRequests();
    const DriveFile file = run(client.file(id));

    EXPECT_EQ(file.id, id);
    EXPECT_EQ(file.name, u"Ngân sách.xlsx"_s);
    EXPECT_EQ(file.bytes(), 5);
    EXPECT_TRUE(file.modifiedDate().isValid());
    ASSERT_EQ(requests().size(), 1);
    expectRequest(requests()[0], u"GET"_s, u"/drive/v3/files/"_s + id, itemQuery);
}

TEST_F(DriveBrowse, CreateFolderSendsTheTrimmedNameUnderItsParent)
{
    const QString parent = emulator.createFolder(account.email, u"Dự án"_s);

    const DriveFile folder = run(client.createFolder(u"  Báo cáo  "_s, parent));

    EXPECT_EQ(folder.name, u"Báo cáo"_s);
    EXPECT_TRUE(folder.isFolder());
    ASSERT_TRUE(folder.capabilities);
    EXPECT_EQ(folder.capabilities->canAddChildren, true);
    EXPECT_EQ(emulator.findChild(parent, u"Báo cáo"_s), folder.id);
    ASSERT_EQ(requests().size(), 1);
    expectRequest(requests()[0], u"POST"_s, u"/drive/v3/files"_s, itemQuery);
    expectJsonBody(requests()[0], {{u"name"_s, u"Báo cáo"_s},
                                   {u"mimeType"_s, folderType},
                                   {u"parents"_s, QJsonArray{parent}}});
}

TEST_F(DriveBrowse, InvalidNamesAreRefusedBeforeAnythingIsSent)
{
    const DriveFile file(emulator.createFolder(account.email, u"Cũ"_s), u"Cũ"_s, folderType);
    for (const QString &name : {u"   "_s, u""_s, u"a/b"_s, u" .. "_s}) {
        SCOPED_TRACE(name.toStdString());
        const QString message = u"Tên không được để trống hoặc chứa dấu /."_s;
        EXPECT_EQ(failure<TarnwickError>(client.createFolder(name, root)).message(), message);
        EXPECT_EQ(failure<TarnwickError>(client.rename(file, name)).message(), message);
    }
    EXPECT_TRUE(requests().isEmpty());
}

TEST_F(DriveBrowse, RenameTrashAndDeleteChangeTheItemWithTheirOwnRequests)
{
    const QString id = emulator.createFile(account.email, u"old.txt"_s, "x");
    const DriveFile file(id, u"old.txt"_s, u"text/plain"_s);
    const QString path = u"/drive/v3/files/"_s + id;

    run(client.rename(file, u"\tnew name.txt \n"_s));
    EXPECT_EQ(emulator.itemMetadata(id)->value(u"name"_s).toString(), u"new name.txt"_s);
    run(client.trash(file));
    EXPECT_TRUE(emulator.itemMetadata(id)->value(u"trashed"_s).toBool());
    run(client.deletePermanently(file));
    EXPECT_FALSE(emulator.exists(id));

    const auto log = requests();
    ASSERT_EQ(log.size(), 3);
    expectRequest(log[0], u"PATCH"_s, path, allDrives);
    expectJsonBody(log[0], {{u"name"_s, u"new name.txt"_s}});
    expectRequest(log[1], u"PATCH"_s, path, allDrives);
    expectJsonBody(log[1], {{u"trashed"_s, true}});
    EXPECT_EQ(log[1].bodyLength, qint64(sizeof(R"({"trashed":true})") - 1)); // a JSON boolean
    expectRequest(log[2], u"DELETE"_s, path, allDrives);
    EXPECT_EQ(log[2].bodyLength, 0);
}

TEST_F(DriveBrowse, OnlyDeleteRefusesA201)
{
    const DriveFile file(emulator.createFile(account.email, u"x.txt"_s, "x"), u"x.txt"_s,
                         u"text/plain"_s);
    answerOnce(201, "{}");
    run(client.rename(file, u"y.txt"_s));
    answerOnce(201, "{}");
    run(client.trash(file));

    answerOnce(201, "{}");
    const DriveAPIError error = failure<DriveAPIError>(client.deletePermanently(file));
    EXPECT_EQ(error.status(), 201);
    EXPECT_EQ(error.message(), u"Không kết nối được Google Drive (201)."_s);
    EXPECT_FALSE(error.retryable());

    answerOnce(200, "");
    run(client.deletePermanently(file));
    EXPECT_EQ(requests().size(), 4);
}

} // namespace
