// Reserved ids: files.generateIds and creates that carry one, for folders, multipart and resumable
// uploads. A repeated create with the same id must never make a second item.
#include "emulatorfixture.h"

#include <QRegularExpression>
#include <QSet>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

class ReservedIds : public EmulatorTest
{
protected:
    QStringList generate(int count, const QString &token = {})
    {
        auto r = get(u"/drive/v3/files/generateIds?count=%1"_s.arg(count), auth(token));
        EXPECT_EQ(r->status, 200) << r->body;
        QStringList ids;
        for (const QJsonValue &v : at(json(r), "ids").toArray())
            ids.append(v.toString());
        return ids;
    }
    httplib::Result createFolder(const QString &id, const QString &name, const QString &token = {})
    {
        const QJsonObject body{{u"id"_s, id},
                               {u"name"_s, name},
                               {u"mimeType"_s, u"application/vnd.google-apps.folder"_s}};
        return send("POST", u"/drive/v3/files?fields=id,name,parents"_s, auth(token),
                    QJsonDocument(body).toJson(), "application/json; charset=utf-8");
    }
    httplib::Result multipart(const QJsonObject &metadata, const QByteArray &media)
    {
        const QByteArray body = "--B\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n" +
                                QJsonDocument(metadata).toJson() +
                                "\r\n--B\r\nContent-Type: text/plain\r\n\r\n" + media +
                                "\r\n--B--\r\n";
        return send("POST", u"/upload/drive/v3/files?uploadType=multipart&fields=id,size"_s, auth(),
                    body, "multipart/related; boundary=B");
    }
    httplib::Result startResumable(const QString &id, const QString &name)
    {
        const QJsonObject meta{
            {u"id"_s, id}, {u"name"_s, name}, {u"parents"_s, QJsonArray{account.rootFolderId}}};
        return send("POST", u"/upload/drive/v3/files?uploadType=resumable&fields=id,size"_s, auth(),
                    QJsonDocument(meta).toJson(), "application/json; charset=utf-8");
    }
    static QString sessionPath(const httplib::Result &started)
    {
        const QUrl location(QString::fromStdString(started->get_header_value("Location")));
        return location.path() + u'?' + location.query(QUrl::FullyEncoded);
    }
    static void expectDuplicate(const httplib::Result &r)
    {
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 409) << r->body;
        EXPECT_EQ(reason(r), u"duplicate"_s);
        EXPECT_EQ(at(json(r), "error.message").toString(),
                  u"A file already exists with the provided ID."_s);
    }
    static void expectNotUsable(const httplib::Result &r)
    {
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status, 400) << r->body;
        EXPECT_EQ(reason(r), u"invalid"_s);
        EXPECT_EQ(at(json(r), "error.message").toString(),
                  u"The provided file ID is not usable."_s);
    }
};

} // namespace

TEST_F(ReservedIds, GenerateIdsAnswersInGooglesShape)
{
    auto r = get(u"/drive/v3/files/generateIds"_s);
    ASSERT_EQ(r->status, 200) << r->body;
    const QJsonObject answer = json(r);
    EXPECT_EQ(at(answer, "kind").toString(), u"drive#generatedIds"_s);
    EXPECT_EQ(at(answer, "space").toString(), u"drive"_s);
    EXPECT_EQ(at(answer, "ids").toArray().size(), 10) << "ten without a count";

    const QStringList many = generate(1000);
    ASSERT_EQ(many.size(), 1000);
    EXPECT_EQ(QSet<QString>(many.begin(), many.end()).size(), 1000);
    static const QRegularExpression shape(u"^[A-Za-z0-9_-]{20,}$"_s);
    for (const QString &id : many)
        ASSERT_TRUE(shape.match(id).hasMatch()) << id.toStdString();

    auto onlyIds = get(u"/drive/v3/files/generateIds?count=2&fields=ids"_s);
    ASSERT_EQ(onlyIds->status, 200);
    EXPECT_EQ(json(onlyIds).keys(), QStringList{u"ids"_s});

    for (const char *bad : {"count=0", "count=1001", "count=-3", "count=x", "space=photos",
                            "space=appDataFolder", "type=folders", "fields=files"}) {
        auto refused = get(u"/drive/v3/files/generateIds?"_s + QString::fromLatin1(bad));
        EXPECT_EQ(refused->status, 400) << bad;
    }
    EXPECT_EQ(send("POST", u"/drive/v3/files/generateIds"_s, auth())->status, 404);
    EXPECT_EQ(get(u"/drive/v3/files/generateIds"_s, {})->status, 401);
}

TEST_F(ReservedIds, AFolderCreateWithAnIdHappensOnce)
{
    const QString id = generate(1).value(0);
    auto first = createFolder(id, u"Ảnh 2024"_s);
    ASSERT_EQ(first->status, 200) << first->body;
    EXPECT_EQ(at(json(first), "id").toString(), id);
    EXPECT_EQ(at(json(first), "parents.0").toString(), account.rootFolderId);

    expectDuplicate(createFolder(id, u"Ảnh 2024"_s));
    expectDuplicate(createFolder(id, u"another name"_s));
    EXPECT_EQ(emu->childIds(account.rootFolderId), QStringList{id});

    // Trashing does not free the id; the item is still there.
    emu->trash(id);
    expectDuplicate(createFolder(id, u"Ảnh 2024"_s));
}

TEST_F(ReservedIds, OnlyAnIdGeneratedForTheCallerIsUsable)
{
    const TestAccount other = emu->addTestAccount(u"binh@example.com"_s);
    const QString theirs = generate(1, other.accessToken).value(0);
    expectNotUsable(createFolder(theirs, u"x"_s));
    expectNotUsable(createFolder(u"1madeUpByTheClientXXXXXXXXXXXXXXXX"_s, u"x"_s));
    expectNotUsable(createFolder(account.rootFolderId, u"x"_s)); // an existing item's id
    // An id taken by someone else is still not this caller's to use: 400, not 409.
    ASSERT_EQ(createFolder(theirs, u"x"_s, other.accessToken)->status, 200);
    expectNotUsable(createFolder(theirs, u"x"_s));

    const QJsonObject numeric{{u"id"_s, 12345}, {u"name"_s, u"x"_s}};
    expectNotUsable(postJson(u"/drive/v3/files"_s, numeric));
    EXPECT_TRUE(emu->childIds(account.rootFolderId).isEmpty());
    // Updates still may not set an id.
    const QString mine = emu->createFolder(account.email, u"y"_s);
    EXPECT_EQ(patchJson(u"/drive/v3/files/"_s + mine, {{u"id"_s, generate(1).value(0)}})->status,
              403);
}

TEST_F(ReservedIds, AMultipartUploadWithAnIdHappensOnce)
{
    const QString id = generate(1).value(0);
    const QJsonObject meta{{u"id"_s, id},
                           {u"name"_s, u"ghi chú.txt"_s},
                           {u"parents"_s, QJsonArray{account.rootFolderId}}};
    auto first = multipart(meta, "xin chào");
    ASSERT_EQ(first->status, 200) << first->body;
    EXPECT_EQ(at(json(first), "id").toString(), id);

    expectDuplicate(multipart(meta, "something else"));
    EXPECT_EQ(emu->content(id), QByteArray("xin chào"))
        << "the refused create leaves the item alone";
    EXPECT_EQ(emu->childIds(account.rootFolderId), QStringList{id});
    // The same id started as a resumable upload is refused at once.
    expectDuplicate(startResumable(id, u"ghi chú.txt"_s));
    EXPECT_TRUE(emu->uploadSessionIds().isEmpty());
}

TEST_F(ReservedIds, AResumableSessionKeepsItsIdUntilItCompletes)
{
    const QString id = generate(1).value(0);
    const QByteArray data = pattern(300'000);
    auto startedA = startResumable(id, u"a.bin"_s);
    auto startedB = startResumable(id, u"a.bin"_s);
    ASSERT_EQ(startedA->status, 200) << startedA->body;
    ASSERT_EQ(startedB->status, 200) << "nothing holds the id yet";
    const QString a = sessionPath(startedA), b = sessionPath(startedB);

    ASSERT_EQ(putChunk(a, data.left(262144), 0, u"300000"_s)->status, 308);
    ASSERT_EQ(putChunk(b, data, 0, u"300000"_s)->status, 200);
    EXPECT_EQ(emu->content(id), data) << "the first session to finish takes the id";

    // The other session's last bytes arrive, but its id is gone: 409, and it stays so.
    expectDuplicate(putChunk(a, data.mid(262144), 262144, u"300000"_s));
    expectDuplicate(putChunk(a, {}, 0, u"300000"_s));
    EXPECT_EQ(emu->uploadSessionReceived(a.section(u"upload_id="_s, 1)), 300'000)
        << "the refused session keeps its bytes";
    EXPECT_EQ(emu->childIds(account.rootFolderId), QStringList{id});

    // The finished one answers with its item as often as asked.
    auto again = putChunk(b, {}, 0, u"300000"_s);
    ASSERT_EQ(again->status, 200);
    EXPECT_EQ(at(json(again), "id").toString(), id);
}

TEST_F(ReservedIds, GeneratedIdsSurviveTheSavedState)
{
    const QStringList ids = generate(2);
    ASSERT_EQ(createFolder(ids[0], u"đã tạo"_s)->status, 200);
    emu->reseed(QJsonDocument(emu->stateJson()).toJson());
    expectDuplicate(createFolder(ids[0], u"đã tạo"_s));
    auto unused = createFolder(ids[1], u"chưa tạo"_s);
    ASSERT_EQ(unused->status, 200) << unused->body;
    EXPECT_EQ(at(json(unused), "id").toString(), ids[1]);
}
