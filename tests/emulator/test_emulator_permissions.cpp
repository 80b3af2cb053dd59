// Permissions: who may list and change them, Google's sharing rules, and share links.
#include "emulatorfixture.h"

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

const QString listFields = u"permissions(id,displayName,emailAddress,role,type,photoLink)"_s;
const QString addFields = u"id,displayName,emailAddress,role,type,photoLink"_s;

class Permissions : public EmulatorTest
{
protected:
    void SetUp() override
    {
        EmulatorTest::SetUp();
        emu->addUser(u"binh@example.com"_s, u"Trần Bình"_s);
        file = emu->createFile(account.email, u"hợp đồng.pdf"_s, "pdf", {}, u"application/pdf"_s);
    }

    QString permissions(const QString &id) const
    {
        return u"/drive/v3/files/"_s + id + u"/permissions"_s;
    }

    httplib::Result add(const QJsonObject &body, const QString &query)
    {
        return postJson(permissions(file) + u"?supportsAllDrives=true&fields="_s + enc(addFields) +
                            query,
                        body);
    }

    QString file;
};

QJsonObject user(const QString &email, const QString &role)
{
    return {{u"role"_s, role}, {u"type"_s, u"user"_s}, {u"emailAddress"_s, email}};
}

} // namespace

TEST_F(Permissions, OwnerAndWritersListThemReadersDoNot)
{
    auto mine = get(permissions(file) + u"?supportsAllDrives=true&fields="_s + enc(listFields));
    ASSERT_EQ(mine->status, 200);
    const QJsonArray list = at(json(mine), "permissions").toArray();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(at(list, "0.role").toString(), u"owner"_s);
    EXPECT_EQ(at(list, "0.emailAddress").toString(), account.email);
    EXPECT_FALSE(at(list, "0.photoLink").toString().isEmpty());

    emu->share(file, u"binh@example.com"_s, u"reader"_s);
    const TestAccount binh = emu->addTestAccount(u"binh@example.com"_s);
    auto asReader = get(permissions(file) + u"?supportsAllDrives=true"_s, auth(binh.accessToken));
    EXPECT_EQ(asReader->status, 403);
    EXPECT_EQ(reason(asReader), u"insufficientFilePermissions"_s);

    // Without fields each permission carries kind, id, type and role.
    const QJsonObject bare = json(get(permissions(file)));
    EXPECT_EQ(at(bare, "kind").toString(), u"drive#permissionList"_s);
    const QStringList keys = at(bare, "permissions.0").toObject().keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()),
              (QSet<QString>{u"kind"_s, u"id"_s, u"type"_s, u"role"_s}));

    // Permissions of a folder reach the files inside it.
    const QString folder = emu->createFolder(account.email, u"chung"_s);
    const QString inside = emu->createFile(account.email, u"a.txt"_s, "a", folder);
    emu->share(folder, u"binh@example.com"_s, u"writer"_s);
    const QJsonArray inherited =
        at(json(get(permissions(inside) + u"?fields="_s + enc(listFields))), "permissions")
            .toArray();
    EXPECT_EQ(inherited.size(), 2);
    const QString binhId = at(inherited, "1.id").toString();
    auto change = patchJson(permissions(inside) + u"/"_s + binhId, {{u"role"_s, u"reader"_s}});
    EXPECT_EQ(change->status, 403) << "an inherited permission changes on the folder";
}

TEST_F(Permissions, AddingPeopleFollowsTheSharingRules)
{
    auto added =
        add(user(u" binh@example.com"_s.trimmed(), u"writer"_s), u"&sendNotificationEmail=true"_s);
    ASSERT_EQ(added->status, 200) << added->body;
    EXPECT_EQ(at(json(added), "role").toString(), u"writer"_s);
    EXPECT_EQ(at(json(added), "displayName").toString(), u"Trần Bình"_s);
    ASSERT_EQ(emu->notifications().size(), 1);
    EXPECT_EQ(emu->notifications().first().to, u"binh@example.com"_s);

    auto quiet = add(user(u"cuong@example.com"_s, u"reader"_s), u"&sendNotificationEmail=false"_s);
    EXPECT_EQ(quiet->status, 400) << "no Google account, no e-mail: nobody could be told";
    EXPECT_EQ(reason(quiet), u"invalidSharingRequest"_s);
    auto invited = add(user(u"cuong@example.com"_s, u"reader"_s), u"&sendNotificationEmail=true"_s);
    EXPECT_EQ(invited->status, 200) << "an invitation by e-mail is fine";
    EXPECT_EQ(emu->notifications().size(), 2);

    EXPECT_EQ(add(user(u"not-an-address"_s, u"reader"_s), {})->status, 400);
    EXPECT_EQ(add(user(u"binh@example.com"_s, u"emperor"_s), {})->status, 400);
    EXPECT_EQ(add(user(u"binh@example.com"_s, u"organizer"_s), {})->status, 400)
        << "shared drives only";
    EXPECT_EQ(add({{u"role"_s, u"reader"_s}}, {})->status, 400) << "type is required";
    QJsonObject withId = user(u"binh@example.com"_s, u"reader"_s);
    withId[u"id"_s] = u"123"_s;
    EXPECT_EQ(reason(add(withId, {})), u"fieldNotWritable"_s);

    auto owner = add(user(u"binh@example.com"_s, u"owner"_s), {});
    EXPECT_EQ(owner->status, 403) << "ownership moves only with transferOwnership";
    auto transferred = add(user(u"binh@example.com"_s, u"owner"_s), u"&transferOwnership=true"_s);
    ASSERT_EQ(transferred->status, 200);
    const QJsonObject meta = *emu->itemMetadata(file, account.email);
    EXPECT_EQ(at(meta, "owners.0.emailAddress").toString(), u"binh@example.com"_s);
    EXPECT_FALSE(at(meta, "ownedByMe").toBool());
    EXPECT_EQ(at(meta, "capabilities.canShare").toBool(), true) << "the old owner stays a writer";
}

TEST_F(Permissions, LinksForAnyone)
{
    auto withParam = add({{u"role"_s, u"reader"_s}, {u"type"_s, u"anyone"_s}},
                         u"&sendNotificationEmail=false"_s);
    EXPECT_EQ(withParam->status, 400) << "sendNotificationEmail is for users and groups";
    EXPECT_EQ(reason(withParam), u"invalidSharingRequest"_s);

    auto link = postJson(permissions(file) + u"?supportsAllDrives=true"_s,
                         {{u"role"_s, u"reader"_s}, {u"type"_s, u"anyone"_s}});
    ASSERT_EQ(link->status, 200);
    EXPECT_EQ(at(json(link), "id").toString(), u"anyoneWithLink"_s);
    EXPECT_TRUE(emu->notifications().isEmpty());

    // Anyone signed in can now open it by id, though it is not theirs and not listed for them.
    const TestAccount stranger = emu->addTestAccount(u"stranger@example.com"_s);
    EXPECT_EQ(
        get(u"/drive/v3/files/"_s + file + u"?alt=media"_s, auth(stranger.accessToken))->status,
        200);
    auto shared =
        get(u"/drive/v3/files?q="_s + enc(u"sharedWithMe = true"_s), auth(stranger.accessToken));
    EXPECT_TRUE(at(json(shared), "files").toArray().isEmpty());
    const QString webView =
        at(json(get(u"/drive/v3/files/"_s + file + u"?fields=webViewLink"_s)), "webViewLink")
            .toString();
    auto page = get(webView.mid(emu->baseUrl().size()), {});
    EXPECT_EQ(page->status, 200) << "the web link opens a page";
}

TEST_F(Permissions, ChangingAndRemoving)
{
    const QString binhId =
        at(json(add(user(u"binh@example.com"_s, u"reader"_s), {})), "id").toString();
    auto changed = patchJson(permissions(file) + u"/"_s + binhId + u"?supportsAllDrives=true"_s,
                             {{u"role"_s, u"writer"_s}});
    ASSERT_EQ(changed->status, 200);
    EXPECT_EQ(at(json(changed), "role").toString(), u"writer"_s);
    EXPECT_EQ(
        patchJson(permissions(file) + u"/"_s + binhId, {{u"emailAddress"_s, u"x@example.com"_s}})
            ->status,
        403);

    const QString ownerId = at(json(get(permissions(file))), "permissions.0.id").toString();
    auto removeOwner = send("DELETE", permissions(file) + u"/"_s + ownerId, auth());
    EXPECT_EQ(removeOwner->status, 403);
    EXPECT_EQ(reason(removeOwner), u"cannotRemoveOwner"_s);
    auto demoteOwner = patchJson(permissions(file) + u"/"_s + ownerId, {{u"role"_s, u"writer"_s}});
    EXPECT_EQ(demoteOwner->status, 403);
    EXPECT_EQ(reason(demoteOwner), u"invalidOwnershipTransfer"_s);

    auto removed =
        send("DELETE", permissions(file) + u"/"_s + binhId + u"?supportsAllDrives=true"_s, auth());
    EXPECT_EQ(removed->status, 204);
    EXPECT_TRUE(removed->body.empty());
    auto again = send("DELETE", permissions(file) + u"/"_s + binhId, auth());
    EXPECT_EQ(again->status, 404);
    EXPECT_EQ(at(json(again), "error.errors.0.location").toString(), u"permissionId"_s);
    EXPECT_EQ(get(permissions(file) + u"/"_s + binhId)->status, 404);
    EXPECT_EQ(patchJson(permissions(file) + u"/"_s + binhId, {{u"role"_s, u"reader"_s}})->status,
              404);
}
