#include "drivetesting.h"

#include "decodingerror.h"

#include <QElapsedTimer>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

using Query = QMap<QString, QString>;

class DriveSharing : public Testing::DriveClientTest
{
protected:
    DriveSharing() { emulator.addUser(colleague, u"Bình Trần"_s); }

    const QString colleague = u"binh.tran@example.com"_s;
    const QString item = emulator.createFile(account.email, u"Kế hoạch.docx"_s, "plan");
    const Query allDrives{{u"supportsAllDrives"_s, u"true"_s}};

    const DrivePermission *find(const QList<DrivePermission> &list, const QString &type,
                                const QString &email = {})
    {
        for (const DrivePermission &p : list)
            if (p.type == type && p.emailAddress.value_or(QString()) == email)
                return &p;
        return nullptr;
    }
};

TEST_F(DriveSharing, ListPermissionsReadsEveryCollaboratorInOneRequest)
{
    emulator.share(item, colleague, u"writer"_s);

    const QList<DrivePermission> permissions = run(client.listPermissions(item));

    ASSERT_EQ(permissions.size(), 2);
    const DrivePermission *owner = find(permissions, u"user"_s, account.email);
    ASSERT_TRUE(owner);
    EXPECT_EQ(owner->role, u"owner"_s);
    const DrivePermission *writer = find(permissions, u"user"_s, colleague);
    ASSERT_TRUE(writer);
    EXPECT_EQ(writer->role, u"writer"_s);
    EXPECT_EQ(writer->displayName, u"Bình Trần"_s);
    EXPECT_FALSE(writer->id.isEmpty());
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].method, u"GET"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/files/"_s + item + u"/permissions"_s);
    EXPECT_EQ(
        queryOf(log[0]),
        Query({{u"supportsAllDrives"_s, u"true"_s},
               {u"fields"_s, u"permissions(id,displayName,emailAddress,role,type,photoLink)"_s}}));
}

TEST_F(DriveSharing, AnswerWithoutPermissionsIsAnEmptyListAndABrokenOneFails)
{
    answerOnce(200, R"({"kind":"drive#permissionList"})");
    EXPECT_TRUE(run(client.listPermissions(item)).isEmpty());
    answerOnce(200, R"({"permissions":[{"id":"p1"}]})");
    EXPECT_THROW(run(client.listPermissions(item)), DecodingError);
}

TEST_F(DriveSharing, AddPermissionSendsTheTrimmedAddressAndTheNotificationChoice)
{
    const DrivePermission added =
        run(client.addPermission(item, u" \n\t binh.tran@example.com \r\n"_s, u"writer"_s, true));

    EXPECT_EQ(added.emailAddress, colleague);
    EXPECT_EQ(added.role, u"writer"_s);
    EXPECT_EQ(added.type, u"user"_s);
    EXPECT_FALSE(added.id.isEmpty());
    ASSERT_EQ(emulator.notifications().size(), 1);
    EXPECT_EQ(emulator.notifications()[0].to, colleague);
    EXPECT_EQ(emulator.notifications()[0].role, u"writer"_s);
    const QList<DrivePermission> after = run(client.listPermissions(item));
    ASSERT_TRUE(find(after, u"user"_s, colleague));
    EXPECT_EQ(find(after, u"user"_s, colleague)->role, u"writer"_s);

    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].method, u"POST"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/files/"_s + item + u"/permissions"_s);
    EXPECT_EQ(queryOf(log[0]),
              Query({{u"supportsAllDrives"_s, u"true"_s},
                     {u"sendNotificationEmail"_s, u"true"_s},
                     {u"fields"_s, u"id,displayName,emailAddress,role,type,photoLink"_s}}));
    EXPECT_EQ(log[0].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[0].bodyLength, compactLength({{u"role"_s, u"writer"_s},
                                                {u"type"_s, u"user"_s},
                                                {u"emailAddress"_s, colleague}}));
}

TEST_F(DriveSharing, AddPermissionWithoutNotificationMailsNobody)
{
    run(client.addPermission(item, colleague, u"reader"_s, false));
    EXPECT_TRUE(emulator.notifications().isEmpty());
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(queryOf(log[0]).value(u"sendNotificationEmail"_s), u"false"_s);
}

TEST_F(DriveSharing, AddressWithoutAtIsRefusedBeforeAnythingIsSent)
{
    for (const QString &email : {u"binh.tran"_s, u"   "_s, u""_s, u" binh.example.com \n"_s}) {
        const TarnwickError error =
            failure<TarnwickError>(client.addPermission(item, email, u"reader"_s, true));
        EXPECT_EQ(error.message(), u"Địa chỉ email không hợp lệ."_s);
    }
    // The item ID is checked first.
    EXPECT_EQ(
        failure<TarnwickError>(client.addPermission(u"a/b"_s, u"x"_s, u"reader"_s, true)).message(),
        u"Địa chỉ file Google Drive không hợp lệ."_s);
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_TRUE(tokenRequests.isEmpty());
}

TEST_F(DriveSharing, AddPermissionAcceptsOnly200And201)
{
    answerOnce(201, R"({"id":"p9","role":"reader","type":"user","emailAddress":"x@y.z"})");
    EXPECT_EQ(run(client.addPermission(item, u"x@y.z"_s, u"reader"_s, false)).id, u"p9"_s);
    // 308 counts as success elsewhere, not here.
    answerOnce(308, "{}");
    EXPECT_EQ(
        failure<DriveAPIError>(client.addPermission(item, u"x@y.z"_s, u"reader"_s, false)).status(),
        308);
}

TEST_F(DriveSharing, UpdateRoleAndDeletePermissionAddressThePermission)
{
    emulator.share(item, colleague, u"reader"_s);
    const QString permission = find(run(client.listPermissions(item)), u"user"_s, colleague)->id;
    clearRequests();

    run(client.updatePermissionRole(item, permission, u"writer"_s));
    EXPECT_EQ(find(run(client.listPermissions(item)), u"user"_s, colleague)->role, u"writer"_s);
    run(client.deletePermission(item, permission));
    EXPECT_FALSE(find(run(client.listPermissions(item)), u"user"_s, colleague));

    const auto log = requests();
    ASSERT_EQ(log.size(), 4);
    const QString path = u"/drive/v3/files/"_s + item + u"/permissions/"_s + permission;
    EXPECT_EQ(log[0].method, u"PATCH"_s);
    EXPECT_EQ(log[0].path, path);
    EXPECT_EQ(queryOf(log[0]), allDrives);
    EXPECT_EQ(log[0].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[0].bodyLength, compactLength({{u"role"_s, u"writer"_s}}));
    EXPECT_EQ(log[2].method, u"DELETE"_s);
    EXPECT_EQ(log[2].path, path);
    EXPECT_EQ(queryOf(log[2]), allDrives);
    EXPECT_EQ(log[2].bodyLength, 0);
}

TEST_F(DriveSharing, DeletePermissionAccepts200And204ButNot201)
{
    emulator.share(item, colleague, u"reader"_s);
    const QString permission = find(run(client.listPermissions(item)), u"user"_s, colleague)->id;
    answerOnce(200, "{}");
    run(client.deletePermission(item, permission));
    answerOnce(201, "{}");
    EXPECT_EQ(failure<DriveAPIError>(client.deletePermission(item, permission)).status(), 201);
    answerOnce(201, "{}");
    run(client.updatePermissionRole(item, permission, u"writer"_s));
    clearRequests();
    run(client.deletePermission(item, permission)); // Drive's own answer
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(log[0].status, 204);
}

TEST_F(DriveSharing, MissingRightsShowGooglesReason)
{
    const QString theirs = emulator.createFile(colleague, u"Riêng.txt"_s, "x");
    emulator.share(theirs, account.email, u"reader"_s);
    const DriveAPIError error =
        failure<DriveAPIError>(client.addPermission(theirs, u"c@example.com"_s, u"reader"_s, true));
    EXPECT_EQ(error.status(), 403);
    EXPECT_TRUE(error.message().startsWith(u"Không có quyền thực hiện thao tác này. "_s));
    EXPECT_FALSE(error.retryable());
}

TEST_F(DriveSharing, ShareLinkMakesTheItemPublicAndReturnsItsLink)
{
    const QString link = run(client.createShareLink(item));

    EXPECT_EQ(link, emulator.itemMetadata(item)->value(u"webViewLink"_s).toString());
    EXPECT_FALSE(link.isEmpty());
    const DrivePermission *anyone = find(run(client.listPermissions(item)), u"anyone"_s);
    ASSERT_TRUE(anyone);
    EXPECT_EQ(anyone->role, u"reader"_s);

    const auto log = requests();
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log[0].method, u"POST"_s);
    EXPECT_EQ(log[0].path, u"/drive/v3/files/"_s + item + u"/permissions"_s);
    EXPECT_EQ(queryOf(log[0]), allDrives);
    EXPECT_EQ(log[0].header(u"content-type"_s), u"application/json; charset=utf-8"_s);
    EXPECT_EQ(log[0].bodyLength,
              compactLength({{u"role"_s, u"reader"_s}, {u"type"_s, u"anyone"_s}}));
    EXPECT_EQ(log[1].method, u"GET"_s);
    EXPECT_EQ(log[1].path, u"/drive/v3/files/"_s + item);
    EXPECT_EQ(queryOf(log[1]).value(u"supportsAllDrives"_s), u"true"_s);
}

TEST_F(DriveSharing, ShareLinkFallsBackToTheDriveWebAddress)
{
    const QString fallback = emulator.baseUrl() + u"/file/d/"_s + item + u"/view?usp=sharing"_s;
    const QString getItem = u"^/drive/v3/files/"_s + item + u"$"_s;
    answerOnce(200, R"({"id":")" + item.toUtf8() + R"(","name":"x","webViewLink":""})", u"GET"_s,
               getItem);
    EXPECT_EQ(run(client.createShareLink(item)), fallback);
    answerOnce(200, R"({"id":")" + item.toUtf8() + R"(","name":"x"})", u"GET"_s, getItem);
    EXPECT_EQ(run(client.createShareLink(item)), fallback);
}

TEST_F(DriveSharing, RefusedPublicPermissionStillYieldsTheLink)
{
    emulator.addFault(FaultRule::respondError(403, u"publishOutNotPermitted"_s,
                                              u"Public sharing is not allowed."_s, u"POST"_s));
    const QString link = run(client.createShareLink(item));
    EXPECT_EQ(link, emulator.itemMetadata(item)->value(u"webViewLink"_s).toString());
    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].status, 403);
    EXPECT_EQ(log[1].status, 200);
}

TEST_F(DriveSharing, ShareLinkFailsWhenTheItemCannotBeRead)
{
    emulator.addFault(FaultRule::respondError(404, u"notFound"_s, u"File not found."_s, u"GET"_s));
    EXPECT_EQ(failure<DriveAPIError>(client.createShareLink(item)).status(), 404);
}

TEST_F(DriveSharing, StopWhileMakingTheLinkPublicIsNotSwallowed)
{
    emulator.addFault(FaultRule::delayBy(std::chrono::seconds(1), u"POST"_s));
    std::stop_source stop;
    QObject context;
    QTimer::singleShot(100, &context, [&] { stop.request_stop(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_THROW(run(client.createShareLink(item, stop.get_token())), Cancelled);
    EXPECT_LT(elapsed.elapsed(), 800);
    for (const RequestRecord &record : requests())
        EXPECT_NE(record.method, u"GET"_s);
}

} // namespace
