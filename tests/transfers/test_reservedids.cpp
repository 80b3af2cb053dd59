// Creates with reserved IDs against the emulator: a create whose answer was lost, sent again with
// the same ID, gives back the item the first one made instead of a second item, and an ID taken
// by something else is never mistaken for ours.
#include "transfertesting.h"

#include "drive/decodingerror.h"
#include "records/errors.h"
#include "support/lostanswer.h"
#include "support/testsupport.h"

#include <QSet>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

constexpr qint64 MiB = 1 << 20;

class ReservedIds : public Testing::TransferTest
{
protected:
    QString folder = emulator.createFolder(account.email, u"Đích"_s);
    QList<UploadSession> sessions;

    QString reserve() { return run(client.generateIds(1)).value(0); }
    DriveClient::SessionHandler keepSession()
    {
        return [this](const UploadSession &s) { sessions.append(s); };
    }
    // The request takes effect on the server and its answer never reaches the client.
    int loseAnswer(const QString &method, const QString &path, const QString &query = {})
    {
        return emulator.addFault(Testing::lostAnswer(method, path, query));
    }
    int answerAfterHandler(int status, const QString &method, const QString &path,
                           const QString &query = {})
    {
        FaultRule rule = FaultRule::respond(status, method, path);
        rule.afterHandler = true;
        rule.query = query;
        return emulator.addFault(rule);
    }
    QStringList createRequestStatuses() const
    {
        QStringList out;
        for (const auto &r : requests())
            if (r.method == u"POST"_s)
                out.append(QString::number(r.status));
        return out;
    }
};

} // namespace

TEST_F(ReservedIds, GenerateIdsGivesDistinctCheckedIds)
{
    const QStringList ids = run(client.generateIds(25));
    EXPECT_EQ(ids.size(), 25);
    EXPECT_EQ(QSet<QString>(ids.begin(), ids.end()).size(), 25);
    const auto log = requests();
    ASSERT_EQ(log.size(), 1);
    expectRequest(log[0], u"GET"_s, u"/drive/v3/files/generateIds"_s,
                  {{u"count"_s, u"25"_s}, {u"space"_s, u"drive"_s}, {u"fields"_s, u"ids"_s}});

    clearRequests();
    EXPECT_FALSE(failure<TarnwickError>(client.generateIds(0)).message().isEmpty());
    failure<TarnwickError>(client.generateIds(1001));
    EXPECT_TRUE(requests().isEmpty()) << "a count Drive would refuse is not sent";

    // An ID that could reach a URL unescaped is refused like any other item ID.
    answerOnce(200, R"({"ids":["1abc","../about"]})");
    EXPECT_EQ(failure<TarnwickError>(client.generateIds(2)).message(),
              u"Địa chỉ file Google Drive không hợp lệ."_s);
    answerOnce(200, R"({"ids":[17]})");
    failure<DecodingError>(client.generateIds(1));
    answerOnce(200, R"({"ids":["1abc"]})");
    failure<DecodingError>(client.generateIds(2));
}

TEST_F(ReservedIds, AFolderCreateWhoseAnswerWasLostIsNotMadeTwice)
{
    // The answer replaced by a server error after the folder was made.
    const QString first = reserve();
    answerAfterHandler(503, u"POST"_s, u"^/drive/v3/files$"_s);
    EXPECT_EQ(failure<DriveAPIError>(client.createFolder(u"Ảnh"_s, folder, {}, first)).status(),
              503);
    const DriveFile again = run(client.createFolder(u"Ảnh"_s, folder, {}, first));
    EXPECT_EQ(again.id, first);
    EXPECT_EQ(again.name, u"Ảnh"_s);
    EXPECT_TRUE(again.isFolder());
    EXPECT_TRUE(again.capabilities.has_value()) << "the usual item fields";

    // The connection dropped after the request took effect, in My Drive's top ("root").
    const QString second = reserve();
    loseAnswer(u"POST"_s, u"^/drive/v3/files$"_s);
    failure<NetworkError>(client.createFolder(u"Nhạc"_s, u"root"_s, {}, second));
    EXPECT_EQ(run(client.createFolder(u"Nhạc"_s, u"root"_s, {}, second)).id, second);

    EXPECT_EQ(emulator.childIds(folder), QStringList{first});
    const QStringList top = emulator.childIds(account.rootFolderId);
    EXPECT_EQ(top.size(), 2); // the test's folder and "Nhạc"
    EXPECT_TRUE(top.contains(second));
}

TEST_F(ReservedIds, AnIdTakenByAnotherItemIsNotMistakenForOurs)
{
    const QString elsewhere = emulator.createFolder(account.email, u"Khác"_s);
    const QString id = reserve();
    run(client.createFolder(u"Ảnh"_s, elsewhere, {}, id));
    const DriveAPIError wrongParent =
        failure<DriveAPIError>(client.createFolder(u"Ảnh"_s, folder, {}, id));
    EXPECT_EQ(wrongParent.status(), 409);
    EXPECT_EQ(wrongParent.message(),
              u"Mục này vừa thay đổi hoặc đã có trên Google Drive. Hãy làm mới rồi thử lại."_s);
    EXPECT_FALSE(wrongParent.retryable());

    emulator.trash(id);
    EXPECT_EQ(failure<DriveAPIError>(client.createFolder(u"Ảnh"_s, elsewhere, {}, id)).status(),
              409)
        << "a trashed folder is not the one asked for";

    // A file of another size, or a folder, under the ID an upload asks for.
    const QString local = Testing::writeFile(path(u"a.txt"_s), contents(1000, 3));
    const QString fileId = reserve();
    run(client.upload(local, folder, {}, {}, {}, {}, fileId));
    Testing::writeFile(local, contents(1001, 3));
    EXPECT_EQ(failure<DriveAPIError>(client.upload(local, folder, {}, {}, {}, {}, fileId)).status(),
              409);
    const QString folderId = reserve();
    run(client.createFolder(u"a.txt"_s, folder, {}, folderId));
    EXPECT_EQ(
        failure<DriveAPIError>(client.upload(local, folder, {}, {}, {}, {}, folderId)).status(),
        409);
    EXPECT_EQ(failure<DriveAPIError>(client.createFolder(u"x"_s, folder, {}, fileId)).status(),
              409);

    // An ID Drive did not hand out is its 400; a malformed one is never sent.
    EXPECT_EQ(failure<DriveAPIError>(
                  client.createFolder(u"x"_s, folder, {}, u"1notReservedXXXXXXXXXXXXXXXXXXXXX"_s))
                  .status(),
              400);
    clearRequests();
    failure<TarnwickError>(client.createFolder(u"x"_s, folder, {}, u"a/b"_s));
    failure<TarnwickError>(client.upload(local, folder, {}, {}, {}, {}, u"a b"_s));
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_EQ(emulator.childIds(folder).size(), 2);
}

TEST_F(ReservedIds, AMultipartUploadWhoseAnswerWasLostIsNotMadeTwice)
{
    const QByteArray bytes = contents(300'000, 7);
    const QString local = Testing::writeFile(path(u"ảnh.jpg"_s), bytes);
    const QString id = reserve();
    loseAnswer(u"POST"_s, u"^/upload/"_s, u"uploadType=multipart"_s);
    // The multipart answer is lost; the fallback's resumable start with the same ID is told the
    // ID is taken, and the item the multipart made is the result.
    const DriveFile item = run(client.upload(local, folder, {}, keepSession(), recorder(), {}, id));
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(item.bytes(), bytes.size());
    EXPECT_EQ(emulator.contentSha256(id), sha256(bytes));
    EXPECT_TRUE(sessions.isEmpty()) << "no session opened";
    const auto log = requests();
    ASSERT_GE(log.size(), 4);
    EXPECT_EQ(log[log.size() - 2].queryValue(u"uploadType"_s), u"resumable"_s);
    EXPECT_EQ(log[log.size() - 2].status, 409);
    EXPECT_EQ(log.last().method, u"GET"_s) << "then the item is asked for by its ID";
    ASSERT_FALSE(reports.isEmpty());
    EXPECT_EQ(reports.last(), Report(bytes.size(), bytes.size()));

    // Sent again later (after a crash that lost the answer for good): the same item comes back.
    clearRequests();
    EXPECT_EQ(run(client.upload(local, folder, {}, {}, {}, {}, id)), item);
    EXPECT_EQ(createRequestStatuses(), QStringList{u"409"_s});
    EXPECT_EQ(emulator.childIds(folder), QStringList{id});
}

TEST_F(ReservedIds, AResumableUploadWhoseAnswerWasLostIsNotMadeTwice)
{
    const QByteArray bytes = contents(6 * MiB, 8);
    const QString local = Testing::writeFile(path(u"phim.mp4"_s), bytes);
    const QString id = reserve();
    // The last chunk lands and the item is made, but the client only hears a refusal and gives up.
    answerAfterHandler(400, u"PUT"_s, u"^/upload/"_s);
    EXPECT_EQ(failure<DriveAPIError>(client.upload(local, folder, {}, keepSession(), {}, {}, id))
                  .status(),
              400);
    ASSERT_TRUE(emulator.exists(id));

    // Without the kept session: a new one cannot open under the taken ID, and the item is ours.
    clearRequests();
    const DriveFile item = run(client.upload(local, folder, {}, keepSession(), {}, {}, id));
    EXPECT_EQ(item.id, id);
    EXPECT_EQ(createRequestStatuses(), QStringList{u"409"_s});
    EXPECT_EQ(sessions.size(), 1);
    EXPECT_EQ(emulator.childIds(folder), QStringList{id});
    EXPECT_EQ(emulator.contentSha256(id), sha256(bytes));
}

TEST_F(ReservedIds, AKeptSessionWhoseIdWasTakenMeanwhileEndsWithThatItem)
{
    const QByteArray bytes = contents(10 * MiB, 9);
    const QString local = Testing::writeFile(path(u"lớn.bin"_s), bytes);
    const QString id = reserve();
    // The first attempt stops after its first 8 MiB chunk and keeps its session.
    FaultRule refused = FaultRule::respond(400, u"PUT"_s, u"^/upload/"_s);
    refused.skip = 1;
    emulator.addFault(refused);
    failure<DriveAPIError>(client.upload(local, folder, {}, keepSession(), {}, {}, id));
    ASSERT_EQ(sessions.size(), 1);

    // A second attempt that did not know the session finishes under the ID.
    const DriveFile made = run(client.upload(local, folder, {}, keepSession(), {}, {}, id));
    ASSERT_EQ(sessions.size(), 2);

    // Resuming the first: its last bytes are refused with 409, and the item is the result.
    clearRequests();
    const DriveFile resumed =
        run(client.upload(local, folder, sessions.first(), keepSession(), recorder(), {}, id));
    EXPECT_EQ(resumed, made);
    QStringList statuses;
    for (const auto &r : uploadRequests())
        statuses.append(QString::number(r.status));
    EXPECT_EQ(statuses, (QStringList{u"308"_s, u"409"_s})) << "asked, then sent the rest";
    EXPECT_EQ(emulator.childIds(folder), QStringList{id});
    EXPECT_EQ(emulator.contentSha256(id), sha256(bytes));
}
