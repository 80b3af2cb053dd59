#include "drivetesting.h"

#include "drive/decodingerror.h"

#include <QElapsedTimer>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

class DriveSharing : public Testing::DriveClientTest
{
protected:
    DriveSharing()
    {
        emulator.addUser(colleague, u"Bình Trần"_s);
        emulator.addUser(u"chi.le@example.com"_s, u"Chi Lê"_s);
    }

    const QString colleague = u"binh.tran@example.com"_s;
    const QString item = emulator.createFile(account.email, u"Kế hoạch.docx"_s, "plan");
    const QString permissionsPath = u"/drive/v3/files/"_s + item + u"/permissions"_s;
    const Query allDrives{{u"supportsAllDrives"_s, u"true"_s}};

    // The permission of that type (and address) on the item, as Drive lists it now.
    std::optional<DrivePermission> permission(const QString &type, const QString &email = {})
    {
        for (const DrivePermission &p : run(client.listPermissions(item)))
            if (p.type == type && p.emailAddress.value_or(QString()) == email)
                return p;
        return std::nullopt;
    }
};

TEST_F(DriveSharing, ListPermissionsReadsEveryCollaboratorInOneRequest)
{
    emulator.share(item, colleague, u"writer"_s);

    const QList<DrivePermission> permissions = run(client.listPermissions(item));

    ASSERT_EQ(permissions.size(), 2);
    EXPECT_EQ(permission(u"user"_s, account.email)->role, u"owner"_s);
    const DrivePermission writer = *permission(u"user"_s, colleague);
    EXPECT_EQ(writer.role, u"writer"_s);
    EXPECT_EQ(writer.displayName, u"Bình Trần"_s);
    EXPECT_TRUE(permissions.contains(writer));
    expectRequest(
        requests()[0], u"GET"_s, permissionsPath,
        {{u"supportsAllDrives"_s, u"true"_s},
         {u"fields"_s, u"permissions(id,displayName,emailAddress,role,type,photoLink)"_s}});
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
    for (const bool notify : {true, false}) {
        SCOPED_TRACE(notify);
        emulator.clearNotifications();
        clearRequests();
        const QString address = notify ? colleague : u"chi.le@example.com"_s;

        const DrivePermission added = run(
            client.addPermission(item, u" \n\t "_s + address + u" \r\n"_s, u"writer"_s, notify));

        EXPECT_EQ(added.emailAddress, address);
        EXPECT_EQ(added.role, u"writer"_s);
        EXPECT_EQ(added.type, u"user"_s);
        EXPECT_EQ(permission(u"user"_s, address), added);
        EXPECT_EQ(emulator.notifications().size(), notify ? 1 : 0);
        const QString flag = notify ? u"true"_s : u"false"_s;
        expectRequest(requests()[0], u"POST"_s, permissionsPath,
                      {{u"supportsAllDrives"_s, u"true"_s},
                       {u"sendNotificationEmail"_s, flag},
                       {u"fields"_s, u"id,displayName,emailAddress,role,type,photoLink"_s}});
        expectJsonBody(
            requests()[0],
            {{u"role"_s, u"writer"_s}, {u"type"_s, u"user"_s}, {u"emailAddress"_s, address}});
    }
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
    answerOnce(308, "{}"); // success elsewhere, not here
    EXPECT_EQ(
        failure<DriveAPIError>(client.addPermission(item, u"x@y.z"_s, u"reader"_s, false)).status(),
        308);
}

TEST_F(DriveSharing, UpdateRoleAndDeletePermissionAddressThePermission)
{
    emulator.share(item, colleague, u"reader"_s);
    const QString id = permission(u"user"_s, colleague)->id;
    const QString path = permissionsPath + u'/' + id;
    clearRequests();

    run(client.updatePermissionRole(item, id, u"writer"_s));
    EXPECT_EQ(permission(u"user"_s, colleague)->role, u"writer"_s);
    run(client.deletePermission(item, id));
    EXPECT_EQ(permission(u"user"_s, colleague), std::nullopt);

    const auto log = requests();
    ASSERT_EQ(log.size(), 4);
    expectRequest(log[0], u"PATCH"_s, path, allDrives);
    expectJsonBody(log[0], {{u"role"_s, u"writer"_s}});
    expectRequest(log[2], u"DELETE"_s, path, allDrives);
    EXPECT_EQ(log[2].bodyLength, 0);
    EXPECT_EQ(log[2].status, 204);
}

TEST_F(DriveSharing, DeletePermissionAccepts200ButNot201)
{
    answerOnce(200, "{}");
    run(client.deletePermission(item, u"p1"_s));
    answerOnce(201, "{}");
    EXPECT_EQ(failure<DriveAPIError>(client.deletePermission(item, u"p1"_s)).status(), 201);
    answerOnce(201, "{}");
    run(client.updatePermissionRole(item, u"p1"_s, u"writer"_s));
}

TEST_F(DriveSharing, ShareLinkMakesTheItemPublicAndReturnsItsLink)
{
    const QString link = run(client.createShareLink(item));

    EXPECT_FALSE(link.isEmpty());
    EXPECT_EQ(link, emulator.itemMetadata(item)->value(u"webViewLink"_s).toString());
    EXPECT_EQ(permission(u"anyone"_s)->role, u"reader"_s);
    const auto log = requests();
    ASSERT_EQ(log.size(), 3);
    expectRequest(log[0], u"POST"_s, permissionsPath, allDrives);
    expectJsonBody(log[0], {{u"role"_s, u"reader"_s}, {u"type"_s, u"anyone"_s}});
    EXPECT_EQ(log[1].path, u"/drive/v3/files/"_s + item);
    EXPECT_EQ(queryOf(log[1]).value(u"supportsAllDrives"_s), u"true"_s);
}

TEST_F(DriveSharing, ShareLinkFallsBackToTheDriveWebAddress)
{
    const QString fallback = emulator.baseUrl() + u"/file/d/"_s + item + u"/view?usp=sharing"_s;
    const QString getItem = u"^/drive/v3/files/"_s + item + u"$"_s;
    for (const QByteArray &link : {QByteArray(R"(,"webViewLink":"")"), QByteArray()}) {
        answerOnce(200, R"({"id":")" + item.toUtf8() + R"(","name":"x")" + link + "}", u"GET"_s,
                   getItem);
        EXPECT_EQ(run(client.createShareLink(item)), fallback);
    }
}

TEST_F(DriveSharing, RefusedPublicPermissionStillYieldsTheLinkButAnUnreadableItemFails)
{
    emulator.addFault(FaultRule::respondError(403, u"publishOutNotPermitted"_s,
                                              u"Public sharing is not allowed."_s, u"POST"_s));
    EXPECT_EQ(run(client.createShareLink(item)),
              emulator.itemMetadata(item)->value(u"webViewLink"_s).toString());
    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].status, 403);

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
