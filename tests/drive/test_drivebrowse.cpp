#include "drivetesting.h"

#include "decodingerror.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

using Query = QMap<QString, QString>;

const QString itemFields = u"id,name,mimeType,size,modifiedTime,webViewLink,thumbnailLink,"
                           "capabilities(canAddChildren,canEdit,canTrash,canDownload)"_s;

class DriveBrowse : public Testing::DriveClientTest
{
protected:
    QString root = account.rootFolderId;

    Query listQuery(const QString &q) const
    {
        return {{u"q"_s, q},
                {u"fields"_s, u"nextPageToken,files("_s + itemFields + u")"_s},
                {u"pageSize"_s, u"1000"_s},
                {u"orderBy"_s, u"folder,name_natural"_s},
                {u"supportsAllDrives"_s, u"true"_s},
                {u"includeItemsFromAllDrives"_s, u"true"_s}};
    }

    // n files "f00001"… of 1, 2… bytes (and `folders` folders "d001"…) in parent, in the order
    // Drive lists them.
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

TEST_F(DriveBrowse, AccountReadsUserAndQuotaWithTheExactFields)
{
    emulator.setQuota(account.email, 15'000'000'000LL);
    emulator.createFile(account.email, u"a.bin"_s, QByteArray(1234, 'x'));

    const DriveClient::Account result = run(client.account());

    EXPECT_EQ(result.user.emailAddress, account.email);
    EXPECT_EQ(result.user.displayName, account.displayName);
    ASSERT_TRUE(result.storageQuota);
    EXPECT_EQ(result.storageQuota->limit, u"15000000000"_s);
    EXPECT_EQ(result.storageQuota->usage, u"1234"_s);
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, u"GET"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/about"_s);
    EXPECT_EQ(
        queryOf(log[0]),
        Query({{u"fields"_s, u"user(displayName,emailAddress),storageQuota(limit,usage)"_s}}));
    EXPECT_EQ(log[0].bodyLength, 0);
}

TEST_F(DriveBrowse, AccountOfAnUnlimitedUserHasNoLimitAndMissingUserFailsDecoding)
{
    emulator.setQuota(account.email, std::nullopt);
    const DriveClient::Account unlimited = run(client.account());
    ASSERT_TRUE(unlimited.storageQuota);
    EXPECT_FALSE(unlimited.storageQuota->limit);
    EXPECT_TRUE(unlimited.storageQuota->usage);

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
    EXPECT_EQ(queryOf(log[0]), first);
    QStringList tokens;
    for (int i = 1; i < 3; ++i) {
        Query query = queryOf(log[i]);
        tokens.append(query.take(u"pageToken"_s));
        EXPECT_EQ(query, first);
    }
    EXPECT_FALSE(tokens[0].isEmpty());
    EXPECT_NE(tokens[0], tokens[1]);
    for (const RequestRecord &record : log) {
        EXPECT_EQ(record.method, u"GET"_s);
        EXPECT_EQ(record.path, u"/drive/v3/files"_s);
    }
}

TEST_F(DriveBrowse, ListFollowsShortAndEmptyPagesToTheEnd)
{
    emulator.setListingPages(true, 2, 3);
    const QStringList expected = fill(root, 3000);
    EXPECT_EQ(idsOf(run(client.list(root, false))), expected);
    EXPECT_GT(requests().size(), 4);
}

TEST_F(DriveBrowse, FullPageWithoutATokenEndsTheListing)
{
    emulator.setListingPages(false);
    fill(root, 1000);
    EXPECT_EQ(run(client.list(root, false)).size(), 1000);
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

TEST_F(DriveBrowse, ListingWithoutFilesOrWithARepeatedTokenFailsInsteadOfLooping)
{
    answerOnce(200, R"({"nextPageToken":"x"})");
    EXPECT_THROW(run(client.list(root, false)), DecodingError);

    // A server that hands out the same token again would otherwise be read forever.
    FaultRule same = FaultRule::respond(200, u"GET"_s, u"^/drive/v3/files$"_s);
    same.body = R"({"files":[],"nextPageToken":"again"})";
    same.times = 0;
    emulator.addFault(same);
    clearRequests();
    EXPECT_THROW(run(client.list(root, false)), DecodingError);
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(DriveBrowse, EmptyNextPageTokenEndsTheListing)
{
    answerOnce(200, R"({"files":[{"id":"a1","name":"A"}],"nextPageToken":""})");
    const QList<DriveFile> files = run(client.list(root, false));
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(files[0], DriveFile(u"a1"_s, u"A"_s, std::nullopt));
    EXPECT_EQ(requests().size(), 1);
}

TEST_F(DriveBrowse, SharedWithMeIgnoresTheParent)
{
    const QString other = u"binh.tran@example.com"_s;
    emulator.addUser(other, u"Bình"_s);
    const QString shared = emulator.createFile(other, u"Kế hoạch.txt"_s, "x");
    emulator.share(shared, account.email, u"reader"_s);
    emulator.createFile(account.email, u"mine.txt"_s, "y");

    const QList<DriveFile> files = run(client.list(u"ignored'\\"_s, true));

    EXPECT_EQ(idsOf(files), QStringList{shared});
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(queryOf(log[0]), listQuery(u"sharedWithMe = true and trashed = false"_s));
}

TEST_F(DriveBrowse, TopOfASharedDriveIsListedLikeAFolder)
{
    const QString drive =
        emulator.createSharedDrive(u"Marketing"_s, {{account.email, u"organizer"_s}});
    const QString inside = emulator.createFile(account.email, u"brief.pdf"_s, "%PDF", drive);
    EXPECT_EQ(idsOf(run(client.list(drive, false))), QStringList{inside});
}

TEST_F(DriveBrowse, SharedDrivesArePresentedAsFoldersAcrossPages)
{
    QList<DriveFile> expected;
    for (int i = 1; i <= 130; ++i) {
        const QString name = u"Nhóm %1"_s.arg(i, 3, 10, QChar(u'0'));
        expected.append(DriveFile(emulator.createSharedDrive(name, {{account.email, u"reader"_s}}),
                                  name, u"application/vnd.google-apps.folder"_s));
    }

    const QList<DriveFile> drives = run(client.sharedDrives());

    ASSERT_EQ(drives.size(), expected.size());
    EXPECT_EQ(QSet<DriveFile>(drives.begin(), drives.end()),
              QSet<DriveFile>(expected.begin(), expected.end()));
    for (const DriveFile &drive : drives) {
        EXPECT_TRUE(drive.isFolder());
        EXPECT_EQ(drive.bytes(), 0);
        EXPECT_FALSE(drive.capabilities);
        EXPECT_FALSE(drive.webViewLink);
    }
    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    const Query first{{u"pageSize"_s, u"100"_s}, {u"fields"_s, u"nextPageToken,drives(id,name)"_s}};
    EXPECT_EQ(queryOf(log[0]), first);
    Query second = queryOf(log[1]);
    EXPECT_FALSE(second.take(u"pageToken"_s).isEmpty());
    EXPECT_EQ(second, first);
    EXPECT_EQ(log[1].path, u"/drive/v3/drives"_s);
}

TEST_F(DriveBrowse, FileFindsItemsInSharedDrivesWithTheItemFields)
{
    const QString drive =
        emulator.createSharedDrive(u"Marketing"_s, {{account.email, u"writer"_s}});
    const QString id = emulator.createFile(account.email, u"Ngân sách.xlsx"_s, "12345", drive);

    const DriveFile file = run(client.file(id));

    EXPECT_EQ(file.id, id);
    EXPECT_EQ(file.name, u"Ngân sách.xlsx"_s);
    EXPECT_EQ(file.bytes(), 5);
    EXPECT_TRUE(file.modifiedDate().isValid());
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, u"GET"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/files/"_s + id);
    EXPECT_EQ(queryOf(log[0]),
              Query({{u"supportsAllDrives"_s, u"true"_s}, {u"fields"_s, itemFields}}));
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
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, u"POST"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/files"_s);
    EXPECT_EQ(queryOf(log[0]),
              Query({{u"supportsAllDrives"_s, u"true"_s}, {u"fields"_s, itemFields}}));
    EXPECT_EQ(log[0].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[0].bodyLength,
              compactLength({{u"name"_s, u"Báo cáo"_s},
                             {u"mimeType"_s, u"application/vnd.google-apps.folder"_s},
                             {u"parents"_s, QJsonArray{parent}}}));
}

TEST_F(DriveBrowse, InvalidNamesAreRefusedBeforeAnythingIsSent)
{
    const QString item = emulator.createFolder(account.email, u"Cũ"_s);
    const DriveFile file(item, u"Cũ"_s, u"application/vnd.google-apps.folder"_s);
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
    const Query allDrives{{u"supportsAllDrives"_s, u"true"_s}};

    run(client.rename(file, u"\tnew name.txt \n"_s));
    EXPECT_EQ(emulator.itemMetadata(id)->value(u"name"_s).toString(), u"new name.txt"_s);
    run(client.trash(file));
    EXPECT_TRUE(emulator.itemMetadata(id)->value(u"trashed"_s).toBool());
    run(client.deletePermanently(file));
    EXPECT_FALSE(emulator.exists(id));

    const auto log = requests();
    ASSERT_EQ(log.size(), 3);
    for (const RequestRecord &record : log) {
        EXPECT_EQ(record.path, u"/drive/v3/files/"_s + id);
        EXPECT_EQ(queryOf(record), allDrives);
    }
    EXPECT_EQ(log[0].method, u"PATCH"_s);
    EXPECT_EQ(log[0].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[0].bodyLength, compactLength({{u"name"_s, u"new name.txt"_s}}));
    EXPECT_EQ(log[1].method, u"PATCH"_s);
    EXPECT_EQ(log[1].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[1].bodyLength, qint64(sizeof(R"({"trashed":true})") - 1));
    EXPECT_EQ(log[2].method, u"DELETE"_s);
    EXPECT_EQ(log[2].bodyLength, 0);
}

TEST_F(DriveBrowse, OnlyDeleteRefusesA201)
{
    const QString id = emulator.createFile(account.email, u"x.txt"_s, "x");
    const DriveFile file(id, u"x.txt"_s, u"text/plain"_s);

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

TEST_F(DriveBrowse, MissingItemOperationsReportGone)
{
    const QString gone = u"1NoSuchItem"_s;
    const DriveFile file(gone, u"x"_s, std::nullopt);
    for (int status : {failure<DriveAPIError>(client.rename(file, u"y"_s)).status(),
                       failure<DriveAPIError>(client.trash(file)).status(),
                       failure<DriveAPIError>(client.deletePermanently(file)).status()})
        EXPECT_EQ(status, 404);
}

} // namespace
