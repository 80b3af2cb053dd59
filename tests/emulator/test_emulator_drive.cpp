// The Drive API as a client sees it: tokens, about, listings, metadata, changes, shared drives.
#include "emulatorfixture.h"

#include <QCryptographicHash>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

const QString itemFields =
    u"id,name,mimeType,size,modifiedTime,webViewLink,thumbnailLink,capabilities(canAddChildren,canEdit,canTrash,canDownload)"_s;
const QString pageFields = u"nextPageToken,files("_s + itemFields + u")"_s;

QStringList names(const QJsonObject &page)
{
    QStringList out;
    for (const QJsonValue &f : page.value(u"files"_s).toArray())
        out.append(f.toObject().value(u"name"_s).toString());
    return out;
}

} // namespace

using DriveApi = EmulatorTest;

TEST_F(DriveApi, TokensAreCheckedLikeGoogle)
{
    auto none = get(u"/drive/v3/about?fields=user"_s, {});
    ASSERT_TRUE(none);
    EXPECT_EQ(none->status, 401);
    EXPECT_EQ(reason(none), u"required"_s);
    EXPECT_EQ(at(json(none), "error.errors.0.message").toString(), u"Login Required."_s);
    EXPECT_FALSE(none->get_header_value("WWW-Authenticate").empty());

    auto bad = get(u"/drive/v3/about?fields=user"_s, auth(u"ya29.not-a-token"_s));
    EXPECT_EQ(bad->status, 401);
    EXPECT_EQ(reason(bad), u"authError"_s);
    EXPECT_EQ(at(json(bad), "error.errors.0.location").toString(), u"Authorization"_s);
    EXPECT_EQ(at(json(bad), "error.errors.0.message").toString(), u"Invalid Credentials"_s);

    auto basic = get(u"/drive/v3/about?fields=user"_s, {{"Authorization", "Basic dXNlcjpwdw=="}});
    EXPECT_EQ(basic->status, 401);

    // A token dies with its lifetime, measured on the emulator's clock.
    const QString shortLived = emu->issueAccessToken(account.email, std::chrono::seconds(60));
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(shortLived))->status, 200);
    emu->advanceClock(std::chrono::seconds(61));
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(shortLived))->status, 401);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 200)
        << "the account's token lives an hour";
}

TEST_F(DriveApi, AboutNeedsFieldsAndSendsQuotaAsStrings)
{
    auto missing = get(u"/drive/v3/about"_s);
    EXPECT_EQ(missing->status, 400);
    EXPECT_EQ(at(json(missing), "error.errors.0.location").toString(), u"fields"_s);

    emu->setQuota(account.email, 15LL << 30, 1000);
    emu->createFile(account.email, u"a.bin"_s, QByteArray(500, 'x'));
    auto about =
        get(u"/drive/v3/about?fields=user(displayName,emailAddress),storageQuota(limit,usage)"_s);
    ASSERT_EQ(about->status, 200);
    const QJsonObject a = json(about);
    EXPECT_EQ(at(a, "user.emailAddress").toString(), account.email);
    EXPECT_FALSE(at(a, "user").toObject().contains(u"permissionId"_s)) << "only selected fields";
    EXPECT_EQ(at(a, "storageQuota.limit"), QJsonValue(QString::number(15LL << 30)));
    EXPECT_EQ(at(a, "storageQuota.usage"), QJsonValue(u"1500"_s));

    emu->setQuota(account.email, std::nullopt);
    const QJsonObject unlimited = json(get(u"/drive/v3/about?fields=storageQuota(limit,usage)"_s));
    EXPECT_FALSE(at(unlimited, "storageQuota").toObject().contains(u"limit"_s));

    EXPECT_EQ(get(u"/drive/v3/about?fields=user(shoeSize)"_s)->status, 400);
}

TEST_F(DriveApi, FolderListingFollowsTheClientsQuery)
{
    const QString root = account.rootFolderId;
    const QString folder = emu->createFolder(account.email, u"Ảnh"_s);
    emu->createFile(account.email, u"file10.txt"_s, "x", root, u"text/plain"_s);
    emu->createFile(account.email, u"file2.txt"_s, "x", root, u"text/plain"_s);
    emu->createFile(account.email, u"anh.txt"_s, "x", root, u"text/plain"_s);
    emu->createFolder(account.email, u"b"_s);
    const QString gone = emu->createFile(account.email, u"old.txt"_s, "x");
    emu->trash(gone);
    emu->createFile(account.email, u"inside.txt"_s, "x", folder);

    auto page = get(listTarget(u"root"_s, pageFields));
    ASSERT_EQ(page->status, 200);
    const QJsonObject p = json(page);
    EXPECT_EQ(names(p),
              (QStringList{u"Ảnh"_s, u"b"_s, u"anh.txt"_s, u"file2.txt"_s, u"file10.txt"_s}));
    EXPECT_FALSE(p.contains(u"nextPageToken"_s));
    EXPECT_FALSE(p.contains(u"kind"_s)) << "fields selects the members";
    const QJsonObject f = at(p, "files").toArray().at(3).toObject();
    EXPECT_EQ(at(f, "size"), QJsonValue(u"1"_s));
    EXPECT_TRUE(at(f, "modifiedTime").toString().endsWith(u'Z'));
    EXPECT_EQ(at(f, "modifiedTime").toString().size(), 24) << "RFC 3339 with milliseconds";
    EXPECT_EQ(at(f, "webViewLink").toString(),
              emu->baseUrl() + u"/file/d/"_s + at(f, "id").toString() + u"/view?usp=drivesdk"_s);
    EXPECT_TRUE(at(f, "capabilities.canEdit").toBool());
    EXPECT_EQ(at(f, "capabilities").toObject().size(), 4);
    const QJsonObject folderItem = at(p, "files").toArray().at(0).toObject();
    EXPECT_FALSE(folderItem.contains(u"size"_s));
    EXPECT_EQ(at(folderItem, "webViewLink").toString(),
              emu->baseUrl() + u"/drive/folders/"_s + folder);

    // Without fields only kind, id, name and mimeType come back per file.
    const QJsonObject bare = json(get(listTarget(root)));
    EXPECT_EQ(at(bare, "kind").toString(), u"drive#fileList"_s);
    EXPECT_EQ(at(bare, "incompleteSearch"), QJsonValue(false));
    const QJsonObject first = at(bare, "files").toArray().at(0).toObject();
    const QStringList keys = first.keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()),
              (QSet<QString>{u"kind"_s, u"id"_s, u"name"_s, u"mimeType"_s}));
}

TEST_F(DriveApi, ListingRejectsWhatGoogleRejects)
{
    auto badField = get(listTarget(u"root"_s, u"files(id,colour)"_s));
    EXPECT_EQ(badField->status, 400);
    EXPECT_EQ(at(json(badField), "error.message").toString(), u"Invalid field selection colour"_s);

    for (const QString &q : {u"'root' in parents and trashed = maybe"_s,
                             u"'unterminated in parents"_s, u"'a\\b' in parents"_s,
                             u"colour = 'red'"_s, u"name > 'x'"_s, u"trashed contains 'x'"_s}) {
        auto r = get(u"/drive/v3/files?q="_s + enc(q));
        EXPECT_EQ(r->status, 400) << qPrintable(q);
        EXPECT_EQ(at(json(r), "error.errors.0.location").toString(), u"q"_s) << qPrintable(q);
    }
    EXPECT_EQ(get(u"/drive/v3/files?pageSize=0"_s)->status, 400);
    EXPECT_EQ(get(u"/drive/v3/files?pageSize=1001"_s)->status, 400);
    EXPECT_EQ(get(u"/drive/v3/files?orderBy=shoeSize"_s)->status, 400);
    EXPECT_EQ(get(u"/drive/v3/files?includeItemsFromAllDrives=true"_s)->status, 400)
        << "only together with supportsAllDrives";
    EXPECT_EQ(get(u"/drive/v3/files?pageToken=garbage"_s)->status, 400);
}

TEST_F(DriveApi, EscapedParentIdsAreRead)
{
    // Ids never contain quotes, but the client escapes them anyway: the query must parse.
    auto r = get(listTarget(u"O'Neil\\x"_s, u"files(id)"_s));
    ASSERT_EQ(r->status, 200);
    EXPECT_TRUE(at(json(r), "files").toArray().isEmpty());
}

TEST_F(DriveApi, LongListingsArriveInPages)
{
    const QString folder = emu->createFolder(account.email, u"many"_s);
    for (int i = 0; i < 2500; ++i)
        emu->createFile(account.email, u"f%1"_s.arg(i, 4, 10, QChar(u'0')), {}, folder);
    QStringList all;
    QList<int> sizes;
    QString token;
    do {
        auto r = get(listTarget(folder, u"nextPageToken,files(name)"_s) +
                     (token.isEmpty() ? QString() : u"&pageToken="_s + enc(token)));
        ASSERT_EQ(r->status, 200);
        const QJsonObject page = json(r);
        sizes.append(at(page, "files").toArray().size());
        all += names(page);
        token = at(page, "nextPageToken").toString();
    } while (!token.isEmpty() && sizes.size() < 10);
    EXPECT_EQ(sizes, (QList<int>{1000, 1000, 500}));
    EXPECT_EQ(all.size(), 2500);
    EXPECT_EQ(all.first(), u"f0000"_s);
    EXPECT_EQ(all.last(), u"f2499"_s);

    // A token belongs to its query.
    const QJsonObject first = json(get(listTarget(folder, u"nextPageToken"_s)));
    auto other =
        get(listTarget(u"root"_s) + u"&pageToken="_s + enc(at(first, "nextPageToken").toString()));
    EXPECT_EQ(other->status, 400);
}

TEST_F(DriveApi, ShortAndEmptyPagesMayComeBeforeTheEnd)
{
    const QString folder = emu->createFolder(account.email, u"pages"_s);
    for (int i = 0; i < 20; ++i)
        emu->createFile(account.email, u"f%1"_s.arg(i, 2, 10, QChar(u'0')), {}, folder);
    auto pages = [&](int pageSize) {
        QList<int> sizes;
        int total = 0;
        QString token;
        do {
            auto r = get(listTarget(folder, u"nextPageToken,files(id)"_s)
                             .replace(u"pageSize=1000"_s, u"pageSize=%1"_s.arg(pageSize)) +
                         (token.isEmpty() ? QString() : u"&pageToken="_s + enc(token)));
            const QJsonObject page = json(r);
            sizes.append(at(page, "files").toArray().size());
            total += sizes.last();
            token = at(page, "nextPageToken").toString();
        } while (!token.isEmpty() && sizes.size() < 50);
        return std::make_pair(sizes, total);
    };
    // By default a full last page still announces a next page, which is empty.
    EXPECT_EQ(pages(10).first, (QList<int>{10, 10, 0}));
    emu->setListingPages(false);
    EXPECT_EQ(pages(10).first, (QList<int>{10, 10}));
    emu->setListingPages(true, 2, 3);
    const auto [sizes, total] = pages(8);
    EXPECT_EQ(total, 20);
    EXPECT_TRUE(sizes.contains(0));
    EXPECT_TRUE(sizes.contains(4));
}

TEST_F(DriveApi, SharedWithMeListsDirectSharesWithoutParents)
{
    emu->addUser(u"binh@example.com"_s, u"Trần Bình"_s);
    const QString theirFolder = emu->createFolder(u"binh@example.com"_s, u"Dự án"_s);
    const QString sharedFile =
        emu->createFile(u"binh@example.com"_s, u"kế hoạch.pdf"_s, "pdf", theirFolder);
    emu->createFile(u"binh@example.com"_s, u"private.txt"_s, "no", theirFolder);
    emu->share(sharedFile, account.email, u"reader"_s);

    auto r = get(
        u"/drive/v3/files?q="_s + enc(u"sharedWithMe = true and trashed = false"_s) +
        u"&fields="_s +
        enc(u"files(id,name,parents,owners(emailAddress),capabilities(canEdit,canDownload))"_s));
    ASSERT_EQ(r->status, 200);
    const QJsonArray files = at(json(r), "files").toArray();
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(at(files, "0.name").toString(), u"kế hoạch.pdf"_s);
    EXPECT_FALSE(at(files, "0").toObject().contains(u"parents"_s))
        << "the parent is not visible to the user";
    EXPECT_EQ(at(files, "0.owners.0.emailAddress").toString(), u"binh@example.com"_s);
    EXPECT_FALSE(at(files, "0.capabilities.canEdit").toBool());
    EXPECT_TRUE(at(files, "0.capabilities.canDownload").toBool());

    // Their folder stays invisible; searching by its id finds only what was shared.
    EXPECT_EQ(get(u"/drive/v3/files/"_s + theirFolder)->status, 404);
    EXPECT_EQ(names(json(get(listTarget(theirFolder, u"files(name)"_s)))),
              QStringList{u"kế hoạch.pdf"_s});
}

TEST_F(DriveApi, SharedDrivesNeedTheAllDrivesFlags)
{
    const QString drive = emu->createSharedDrive(u"Marketing"_s, {{account.email, u"writer"_s}});
    const QString inside = emu->createFile(account.email, u"brief.docx"_s, "doc", drive);
    emu->createSharedDrive(u"Secret"_s, {{u"other@example.com"_s, u"organizer"_s}});

    auto drives =
        get(u"/drive/v3/drives?pageSize=100&fields="_s + enc(u"nextPageToken,drives(id,name)"_s));
    ASSERT_EQ(drives->status, 200);
    const QJsonArray list = at(json(drives), "drives").toArray();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(at(list, "0.name").toString(), u"Marketing"_s);
    EXPECT_EQ(at(list, "0.id").toString(), drive);
    EXPECT_EQ(get(u"/drive/v3/drives?pageSize=101"_s)->status, 400);
    EXPECT_EQ(get(u"/drive/v3/drives?pageSize=0"_s)->status, 400);

    EXPECT_EQ(names(json(get(listTarget(drive, u"files(name)"_s)))), QStringList{u"brief.docx"_s});
    auto without = get(u"/drive/v3/files?q="_s + enc(u"'"_s + drive + u"' in parents"_s) +
                       u"&fields=files(name)"_s);
    ASSERT_EQ(without->status, 200);
    EXPECT_TRUE(at(json(without), "files").toArray().isEmpty()) << "empty, not an error";

    EXPECT_EQ(get(u"/drive/v3/files/"_s + inside)->status, 404);
    auto with =
        get(u"/drive/v3/files/"_s + inside + u"?supportsAllDrives=true&fields=driveId,owners"_s);
    ASSERT_EQ(with->status, 200);
    EXPECT_EQ(at(json(with), "driveId").toString(), drive);
    EXPECT_FALSE(json(with).contains(u"owners"_s));
}

TEST_F(DriveApi, MetadataOfOneItem)
{
    const QString id =
        emu->createFile(account.email, u"ảnh.jpg"_s, "jpegbytes", {}, u"image/jpeg"_s);
    auto r = get(u"/drive/v3/files/"_s + id + u"?supportsAllDrives=true&fields="_s +
                 enc(itemFields + u",md5Checksum,parents"_s));
    ASSERT_EQ(r->status, 200);
    const QJsonObject f = json(r);
    EXPECT_EQ(at(f, "md5Checksum").toString(),
              QString::fromLatin1(
                  QCryptographicHash::hash("jpegbytes", QCryptographicHash::Md5).toHex()));
    EXPECT_EQ(at(f, "parents.0").toString(), account.rootFolderId);
    const QString thumb = at(f, "thumbnailLink").toString();
    ASSERT_TRUE(thumb.startsWith(emu->baseUrl()));
    auto png = get(thumb.mid(emu->baseUrl().size()), {});
    ASSERT_EQ(png->status, 200) << "thumbnails need no token";
    EXPECT_EQ(png->get_header_value("Content-Type"), "image/png");
    EXPECT_EQ(png->body.substr(1, 3), "PNG");

    auto missing = get(u"/drive/v3/files/1NoSuchFileXXXXXXXXXXXXXXXXXXXXXX"_s);
    EXPECT_EQ(missing->status, 404);
    const QJsonObject e = at(json(missing), "error").toObject();
    EXPECT_EQ(at(e, "errors.0.reason").toString(), u"notFound"_s);
    EXPECT_EQ(at(e, "errors.0.location").toString(), u"fileId"_s);
    EXPECT_EQ(at(e, "message").toString(), u"File not found: 1NoSuchFileXXXXXXXXXXXXXXXXXXXXXX."_s);
    EXPECT_EQ(at(e, "status").toString(), u"NOT_FOUND"_s);

    EXPECT_EQ(at(json(get(u"/drive/v3/files/root?fields=id"_s)), "id").toString(),
              account.rootFolderId);
}

TEST_F(DriveApi, CreatingFoldersChecksParentsAndFields)
{
    const QJsonObject body{{u"name"_s, u"Tài liệu"_s},
                           {u"mimeType"_s, u"application/vnd.google-apps.folder"_s},
                           {u"parents"_s, QJsonArray{account.rootFolderId}}};
    auto first =
        postJson(u"/drive/v3/files?supportsAllDrives=true&fields="_s + enc(itemFields), body);
    ASSERT_EQ(first->status, 200);
    EXPECT_EQ(at(json(first), "name").toString(), u"Tài liệu"_s);
    EXPECT_TRUE(at(json(first), "capabilities.canAddChildren").toBool());
    auto second = postJson(u"/drive/v3/files"_s, body);
    ASSERT_EQ(second->status, 200);
    EXPECT_NE(at(json(second), "id"), at(json(first), "id")) << "names need not be unique";
    EXPECT_EQ(emu->childIds(account.rootFolderId).size(), 2);

    QJsonObject orphan = body;
    orphan[u"parents"_s] = QJsonArray{u"1MissingParentXXXXXXXXXXXXXXXXXXX"_s};
    EXPECT_EQ(postJson(u"/drive/v3/files"_s, orphan)->status, 404);
    QJsonObject twoParents = body;
    twoParents[u"parents"_s] = QJsonArray{account.rootFolderId, at(json(first), "id").toString()};
    EXPECT_EQ(reason(postJson(u"/drive/v3/files"_s, twoParents)), u"cannotAddParent"_s);
    QJsonObject readOnly = body;
    readOnly[u"size"_s] = u"5"_s;
    auto r = postJson(u"/drive/v3/files"_s, readOnly);
    EXPECT_EQ(r->status, 403);
    EXPECT_EQ(reason(r), u"fieldNotWritable"_s);
    EXPECT_EQ(send("POST", u"/drive/v3/files"_s, auth(), QJsonDocument(body).toJson(), "text/plain")
                  ->status,
              400)
        << "a JSON body needs its content type";

    emu->addUser(u"binh@example.com"_s);
    const QString theirs = emu->createFolder(u"binh@example.com"_s, u"chỉ xem"_s);
    emu->share(theirs, account.email, u"reader"_s);
    QJsonObject intoReadOnly = body;
    intoReadOnly[u"parents"_s] = QJsonArray{theirs};
    auto denied = postJson(u"/drive/v3/files"_s, intoReadOnly);
    EXPECT_EQ(denied->status, 403);
    EXPECT_EQ(reason(denied), u"insufficientFilePermissions"_s);
}

TEST_F(DriveApi, RenameTrashAndDelete)
{
    const QString folder = emu->createFolder(account.email, u"cũ"_s);
    const QString child = emu->createFile(account.email, u"a.txt"_s, QByteArray(100, 'a'), folder);
    const qint64 before = emu->usage(account.email);

    auto renamed = patchJson(u"/drive/v3/files/"_s + folder + u"?supportsAllDrives=true"_s,
                             {{u"name"_s, u"mới"_s}});
    ASSERT_EQ(renamed->status, 200);
    EXPECT_EQ(at(json(renamed), "name").toString(), u"mới"_s);
    EXPECT_EQ(patchJson(u"/drive/v3/files/"_s + folder, {{u"parents"_s, QJsonArray{}}})->status,
              403);

    ASSERT_EQ(patchJson(u"/drive/v3/files/"_s + folder + u"?supportsAllDrives=true"_s,
                        {{u"trashed"_s, true}})
                  ->status,
              200);
    EXPECT_TRUE(names(json(get(listTarget(u"root"_s, u"files(name)"_s)))).isEmpty());
    auto childMeta =
        json(get(u"/drive/v3/files/"_s + child + u"?fields=trashed,explicitlyTrashed"_s));
    EXPECT_TRUE(at(childMeta, "trashed").toBool()) << "children of a trashed folder are trashed";
    EXPECT_FALSE(at(childMeta, "explicitlyTrashed").toBool());
    EXPECT_EQ(emu->usage(account.email), before) << "the trash still counts";

    auto deleted =
        send("DELETE", u"/drive/v3/files/"_s + folder + u"?supportsAllDrives=true"_s, auth());
    ASSERT_EQ(deleted->status, 204);
    EXPECT_TRUE(deleted->body.empty());
    EXPECT_FALSE(emu->exists(child));
    EXPECT_EQ(emu->usage(account.email), before - 100);
    EXPECT_EQ(send("DELETE", u"/drive/v3/files/"_s + folder, auth())->status, 404);

    // Someone else's file: readable, not renamable, not deletable.
    emu->addUser(u"binh@example.com"_s);
    const QString theirs = emu->createFile(u"binh@example.com"_s, u"x.txt"_s, "x");
    emu->share(theirs, account.email, u"reader"_s);
    EXPECT_EQ(patchJson(u"/drive/v3/files/"_s + theirs, {{u"name"_s, u"y"_s}})->status, 403);
    EXPECT_EQ(patchJson(u"/drive/v3/files/"_s + theirs, {{u"trashed"_s, true}})->status, 403);
    EXPECT_EQ(send("DELETE", u"/drive/v3/files/"_s + theirs, auth())->status, 403);
}

TEST_F(DriveApi, ReadOnlyTokensCannotWrite)
{
    const QString reader = emu->issueAccessToken(
        account.email, {}, u"https://www.googleapis.com/auth/drive.readonly"_s);
    EXPECT_EQ(get(listTarget(u"root"_s), auth(reader))->status, 200);
    auto r =
        send("POST", u"/drive/v3/files"_s, auth(reader), "{\"name\":\"x\"}", "application/json");
    EXPECT_EQ(r->status, 403);
    EXPECT_EQ(reason(r), u"insufficientPermissions"_s);
}

TEST_F(DriveApi, MovingKeepsOneParentAndNoCycles)
{
    const QString a = emu->createFolder(account.email, u"A"_s);
    const QString b = emu->createFolder(account.email, u"B"_s, a);
    const QString file = emu->createFile(account.email, u"f.txt"_s, "f", a);
    auto moved = patchJson(u"/drive/v3/files/"_s + file + u"?addParents="_s + b +
                               u"&removeParents="_s + a + u"&fields=parents"_s,
                           {});
    ASSERT_EQ(moved->status, 200);
    EXPECT_EQ(at(json(moved), "parents.0").toString(), b);
    EXPECT_EQ(emu->childIds(b), QStringList{file});

    auto second = patchJson(u"/drive/v3/files/"_s + file + u"?addParents="_s + a, {});
    EXPECT_EQ(reason(second), u"cannotAddParent"_s) << "a file has one parent";
    auto cycle =
        patchJson(u"/drive/v3/files/"_s + a + u"?addParents="_s + b + u"&removeParents=root"_s, {});
    EXPECT_EQ(cycle->status, 400) << "a folder cannot go into its own subfolder";
    EXPECT_EQ(patchJson(u"/drive/v3/files/"_s + file + u"?addParents="_s + file +
                            u"&removeParents="_s + b,
                        {})
                  ->status,
              400)
        << "the new parent must be a folder";
}

TEST_F(DriveApi, SearchesBeyondOneFolder)
{
    const QString folder = emu->createFolder(account.email, u"Hồ sơ"_s);
    emu->createFile(account.email, u"Báo cáo tháng 1.pdf"_s, "1", folder, u"application/pdf"_s);
    emu->createFile(account.email, u"báo cáo tháng 2.docx"_s, "2");
    emu->createFile(account.email, u"ảnh.jpg"_s, "3", {}, u"image/jpeg"_s);
    auto search = [&](const QString &q) {
        return names(json(get(u"/drive/v3/files?orderBy=name&fields=files(name)&q="_s + enc(q))));
    };
    EXPECT_EQ(search(u"name contains 'BÁO CÁO'"_s),
              (QStringList{u"Báo cáo tháng 1.pdf"_s, u"báo cáo tháng 2.docx"_s}));
    EXPECT_EQ(
        search(
            u"mimeType = 'image/jpeg' or mimeType = 'application/pdf' and not name contains '1'"_s),
        QStringList{u"ảnh.jpg"_s});
    EXPECT_EQ(search(u"mimeType = 'application/vnd.google-apps.folder'"_s),
              QStringList{u"Hồ sơ"_s});
    auto all = get(u"/drive/v3/files/"_s + folder + u"?fields=*"_s);
    ASSERT_EQ(all->status, 200);
    for (const char *key :
         {"owners", "capabilities", "permissions", "createdTime", "webViewLink", "spaces"})
        EXPECT_TRUE(json(all).contains(QString::fromLatin1(key))) << key;
}

TEST_F(DriveApi, OneSharedDriveAndOtherOrders)
{
    const QString drive = emu->createSharedDrive(u"Kho"_s, {{account.email, u"organizer"_s}});
    emu->createFile(account.email, u"trong kho.txt"_s, "x", drive);
    emu->createFile(account.email, u"ngoài.txt"_s, "y");
    const QString base =
        u"/drive/v3/files?fields=files(name)&supportsAllDrives=true&includeItemsFromAllDrives=true"_s;
    EXPECT_EQ(names(json(get(base + u"&corpora=drive&driveId="_s + drive))),
              QStringList{u"trong kho.txt"_s});
    EXPECT_EQ(get(base + u"&corpora=drive"_s)->status, 400) << "corpora=drive names its drive";
    EXPECT_EQ(names(json(get(base + u"&corpora=allDrives&orderBy="_s + enc(u"name desc"_s)))),
              (QStringList{u"trong kho.txt"_s, u"ngoài.txt"_s}));
    EXPECT_EQ(names(json(get(u"/drive/v3/files?fields=files(name)&orderBy=name"_s))),
              QStringList{u"ngoài.txt"_s})
        << "without the flags, shared drive items stay out";
}
