// Media downloads with ranges, and the three upload forms with every rule of the resumable
// protocol.
#include "emulatorfixture.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

QString md5(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

} // namespace

using Downloads = EmulatorTest;
using Uploads = EmulatorTest;

TEST_F(Downloads, RangesGive206OrA416)
{
    const QString id =
        emu->createGeneratedFile(account.email, u"video.mp4"_s, 5'000'000, 42, {}, u"video/mp4"_s);
    const QString media = u"/drive/v3/files/"_s + id + u"?alt=media&supportsAllDrives=true"_s;

    auto whole = get(media);
    ASSERT_EQ(whole->status, 200);
    EXPECT_EQ(whole->get_header_value("Content-Type"), "video/mp4");
    EXPECT_EQ(QByteArray::fromStdString(whole->body),
              DriveEmulator::generatedBytes(42, 0, 5'000'000));
    EXPECT_FALSE(whole->has_header("Content-Range"));

    auto tail = get(media, auth({{"Range", "bytes=4000001-"}}));
    ASSERT_EQ(tail->status, 206);
    EXPECT_EQ(tail->get_header_value("Content-Range"), "bytes 4000001-4999999/5000000");
    EXPECT_EQ(QByteArray::fromStdString(tail->body),
              DriveEmulator::generatedBytes(42, 4000001, 999999));

    auto middle = get(media, auth({{"Range", "bytes=10-19"}}));
    ASSERT_EQ(middle->status, 206);
    EXPECT_EQ(middle->get_header_value("Content-Range"), "bytes 10-19/5000000");
    EXPECT_EQ(middle->body.size(), 10u);

    auto past = get(media, auth({{"Range", "bytes=5000000-"}}));
    EXPECT_EQ(past->status, 416);
    EXPECT_EQ(past->get_header_value("Content-Range"), "bytes */5000000");
    EXPECT_EQ(reason(past), u"requestedRangeNotSatisfiable"_s);

    const QString empty = emu->createFile(account.email, u"empty.txt"_s, {});
    auto emptyRange =
        get(u"/drive/v3/files/"_s + empty + u"?alt=media"_s, auth({{"Range", "bytes=0-"}}));
    EXPECT_EQ(emptyRange->status, 416) << "any range on a 0-byte file";
    auto emptyWhole = get(u"/drive/v3/files/"_s + empty + u"?alt=media"_s);
    EXPECT_EQ(emptyWhole->status, 200);
    EXPECT_TRUE(emptyWhole->body.empty());
}

TEST_F(Downloads, GoogleDocumentsAndFoldersAreNotDownloadable)
{
    for (const QString &id :
         {emu->createGoogleDocument(account.email, u"Báo cáo"_s),
          emu->createFolder(account.email, u"Thư mục"_s),
          emu->createShortcut(account.email, u"Lối tắt"_s, account.rootFolderId)}) {
        auto r = get(u"/drive/v3/files/"_s + id + u"?alt=media"_s);
        EXPECT_EQ(r->status, 403);
        EXPECT_EQ(reason(r), u"fileNotDownloadable"_s);
        EXPECT_EQ(at(json(r), "error.errors.0.location").toString(), u"alt"_s);
        EXPECT_EQ(
            at(json(r), "error.message").toString(),
            u"Only files with binary content can be downloaded. Use Export with Docs Editors files."_s);
    }
}

TEST_F(Uploads, MultipartCreatesTheFile)
{
    const QByteArray media = pattern(5 * 1024 * 1024);
    auto body = [&](const QByteArray &meta, const QByteArray &bytes) {
        return "--B\r\nContent-Type: application/json; charset=UTF-8\r\n\r\n" + meta +
               "\r\n--B\r\nContent-Type: image/png\r\n\r\n" + bytes + "\r\n--B--\r\n";
    };
    const QByteArray meta =
        QJsonDocument(QJsonObject{{u"name"_s, u"ảnh.png"_s},
                                  {u"parents"_s, QJsonArray{account.rootFolderId}}})
            .toJson();
    auto r = send(
        "POST",
        u"/upload/drive/v3/files?uploadType=multipart&supportsAllDrives=true&fields=id,name,mimeType,size,md5Checksum"_s,
        auth(), body(meta, media), "multipart/related; boundary=B");
    ASSERT_EQ(r->status, 200) << r->body;
    const QJsonObject item = json(r);
    EXPECT_EQ(at(item, "name").toString(), u"ảnh.png"_s);
    EXPECT_EQ(at(item, "mimeType").toString(), u"image/png"_s);
    EXPECT_EQ(at(item, "size").toString(), QString::number(media.size()));
    EXPECT_EQ(at(item, "md5Checksum").toString(), md5(media));
    EXPECT_EQ(emu->content(at(item, "id").toString()), media);

    auto onePart = send("POST", u"/upload/drive/v3/files?uploadType=multipart"_s, auth(),
                        "--B\r\nContent-Type: application/json\r\n\r\n{}\r\n--B--\r\n",
                        "multipart/related; boundary=B");
    EXPECT_EQ(onePart->status, 400);
    EXPECT_EQ(send("POST", u"/upload/drive/v3/files?uploadType=multipart"_s, auth(),
                   body(meta, "x"), "application/json")
                  ->status,
              400);
    auto tooBig = send("POST", u"/upload/drive/v3/files?uploadType=multipart"_s, auth(),
                       body(meta, pattern(5 * 1024 * 1024 + 1)), "multipart/related; boundary=B");
    EXPECT_EQ(tooBig->status, 413) << "multipart is meant for 5 MiB at most";
    EXPECT_EQ(
        send("POST", u"/upload/drive/v3/files?uploadType=sideways"_s, auth(), "x", "text/plain")
            ->status,
        400);
}

TEST_F(Uploads, ResumableSessionFromStartToFinish)
{
    const QByteArray data = pattern(600'000);
    const QString session = startUpload(u"big.bin"_s, account.rootFolderId, data.size());
    ASSERT_FALSE(session.isEmpty());
    ASSERT_TRUE(session.startsWith(u"/upload/drive/v3/files?"_s));
    EXPECT_TRUE(session.contains(u"upload_id="_s));
    EXPECT_TRUE(session.contains(u"supportsAllDrives=true"_s)) << "the session URL keeps the query";

    // Nothing received yet: 308 without Range.
    auto status = putChunk(session, {}, 0, u"600000"_s);
    ASSERT_EQ(status->status, 308);
    EXPECT_FALSE(status->has_header("Range"));
    EXPECT_FALSE(status->has_header("Location"));

    auto c1 = putChunk(session, data.left(262144), 0, u"*"_s);
    ASSERT_EQ(c1->status, 308);
    EXPECT_EQ(c1->get_header_value("Range"), "bytes=0-262143");
    EXPECT_FALSE(c1->has_header("Location"));

    // Sending an overlap again is harmless; a gap is refused.
    auto overlap = putChunk(session, data.mid(0, 524288), 0, u"600000"_s);
    ASSERT_EQ(overlap->status, 308);
    EXPECT_EQ(overlap->get_header_value("Range"), "bytes=0-524287");
    EXPECT_EQ(putChunk(session, data.mid(550000), 550000, u"600000"_s)->status, 400);

    auto done = putChunk(session, data.mid(524288), 524288, u"600000"_s);
    ASSERT_EQ(done->status, 200) << done->body;
    const QJsonObject item = json(done);
    EXPECT_EQ(at(item, "size").toString(), u"600000"_s);
    EXPECT_EQ(at(item, "md5Checksum").toString(), md5(data));
    EXPECT_EQ(
        emu->contentSha256(at(item, "id").toString()),
        QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));

    auto again = putChunk(session, {}, 0, u"600000"_s);
    EXPECT_EQ(again->status, 200) << "a finished session answers with its item";
    EXPECT_EQ(at(json(again), "id"), at(item, "id"));
    EXPECT_EQ(emu->childIds(account.rootFolderId).size(), 1);
}

TEST_F(Uploads, ChunkRules)
{
    const QByteArray data = pattern(1'000'000);
    const QString session = startUpload(u"c.bin"_s, account.rootFolderId);
    auto notMultiple = putChunk(session, data.left(300000), 0, u"1000000"_s);
    EXPECT_EQ(notMultiple->status, 400) << "non-final chunks are multiples of 256 KiB";
    EXPECT_EQ(putChunk(session, data.left(262144), 0, u"100"_s)->status, 400)
        << "range beyond the total";

    // The body must be what Content-Range announces.
    httplib::Headers lying = auth({{"Content-Range", "bytes 0-524287/1000000"}});
    EXPECT_EQ(send("PUT", session, lying, data.left(262144), "application/octet-stream")->status,
              400);
    EXPECT_EQ(putChunk(session, {}, 0, u"1000000"_s)->status, 308) << "nothing was kept";

    // POST works like PUT; the total may not change once given.
    httplib::Headers post = auth({{"Content-Range", "bytes 0-262143/1000000"}});
    EXPECT_EQ(send("POST", session, post, data.left(262144), "application/octet-stream")->status,
              308);
    EXPECT_EQ(putChunk(session, data.mid(262144, 262144), 262144, u"2000000"_s)->status, 400);

    // The variant without 308.
    auto variant = putChunk(session, data.mid(262144, 262144), 262144, u"1000000"_s,
                            {{"X-GUploader-No-308", "yes"}});
    ASSERT_EQ(variant->status, 200);
    EXPECT_EQ(variant->get_header_value("X-HTTP-Status-Code-Override"), "308");
    EXPECT_EQ(variant->get_header_value("Range"), "bytes=0-524287");
    EXPECT_EQ(emu->uploadSessionReceived(session.section(u"upload_id="_s, 1)), 524288);
}

TEST_F(Uploads, EmptyFileAndSingleRequestUploads)
{
    const QString empty = startUpload(u"empty.txt"_s, account.rootFolderId, 0);
    auto done = putChunk(empty, {}, 0, u"0"_s);
    ASSERT_EQ(done->status, 200);
    EXPECT_EQ(at(json(done), "size").toString(), u"0"_s);

    const QByteArray data = pattern(70000);
    const QString whole = startUpload(u"whole.bin"_s, account.rootFolderId, data.size());
    auto r = send("PUT", whole, auth(), data, "application/octet-stream");
    ASSERT_EQ(r->status, 200) << "a PUT without Content-Range carries the whole file";
    EXPECT_EQ(at(json(r), "md5Checksum").toString(), md5(data));

    emu->setUploadCompleteStatus(201);
    const QString created = startUpload(u"201.bin"_s, account.rootFolderId);
    EXPECT_EQ(putChunk(created, data, 0, QString::number(data.size()))->status, 201);
}

TEST_F(Uploads, SessionsAreOwnedAndExpire)
{
    account.accessToken = emu->issueAccessToken(account.email, std::chrono::seconds(-1));
    const QString session = startUpload(u"x.bin"_s, account.rootFolderId);
    const QString uploadId = session.section(u"upload_id="_s, 1);
    EXPECT_EQ(send("PUT", u"/upload/drive/v3/files?uploadType=resumable&upload_id=nonsense"_s,
                   auth({{"Content-Range", "bytes */10"}}))
                  ->status,
              404);
    const TestAccount other = emu->addTestAccount(u"binh@example.com"_s);
    httplib::Headers theirs = auth(other.accessToken);
    theirs.emplace("Content-Range", "bytes */10");
    EXPECT_EQ(send("PUT", session, theirs)->status, 404) << "someone else's session is unknown";
    EXPECT_EQ(putChunk(session, {}, 0, u"*"_s)->status, 308);
    emu->advanceClock(std::chrono::hours(24 * 8));
    auto expired = putChunk(session, {}, 0, u"*"_s);
    EXPECT_EQ(expired->status, 404) << "sessions expire after a week";

    const QString gone = startUpload(u"y.bin"_s, account.rootFolderId);
    EXPECT_TRUE(emu->expireUploadSession(gone.section(u"upload_id="_s, 1), 410));
    EXPECT_EQ(putChunk(gone, {}, 0, u"*"_s)->status, 410);
    EXPECT_FALSE(uploadId.isEmpty());
}

TEST_F(Uploads, QuotaIsCheckedAtStartAndOnChunks)
{
    emu->setQuota(account.email, 1'000'000);
    const QJsonObject meta{{u"name"_s, u"huge"_s}};
    auto start = send("POST", u"/upload/drive/v3/files?uploadType=resumable"_s,
                      auth({{"X-Upload-Content-Length", "2000000"}}), QJsonDocument(meta).toJson(),
                      "application/json");
    EXPECT_EQ(start->status, 403);
    EXPECT_EQ(reason(start), u"storageQuotaExceeded"_s);
    EXPECT_FALSE(at(json(start), "error").toObject().contains(u"status"_s))
        << "upload errors use the older envelope";

    const QString session = startUpload(u"huge"_s, account.rootFolderId);
    auto chunk = putChunk(session, pattern(262144), 0, u"2000000"_s);
    EXPECT_EQ(chunk->status, 403);
    EXPECT_EQ(reason(chunk), u"storageQuotaExceeded"_s);
}

TEST_F(Downloads, RightsDecideWhoMayDownload)
{
    emu->addUser(u"binh@example.com"_s);
    const TestAccount binh = emu->addTestAccount(u"binh@example.com"_s);
    const QString locked = emu->createFile(account.email, u"bí mật.pdf"_s, "secret");
    const auto media = [](const QString &id) {
        return u"/drive/v3/files/"_s + id + u"?alt=media"_s;
    };
    EXPECT_EQ(get(media(locked), auth(binh.accessToken))->status, 404) << "not shared: not found";
    emu->share(locked, binh.email, u"reader"_s);
    EXPECT_EQ(get(media(locked), auth(binh.accessToken))->status, 200);

    const QString drive = emu->createSharedDrive(u"Kho"_s, {{account.email, u"reader"_s}});
    const QString inDrive = emu->createFile(account.email, u"x.bin"_s, "x", drive);
    EXPECT_EQ(get(media(inDrive))->status, 404) << "shared drive items need supportsAllDrives";
    EXPECT_EQ(get(media(inDrive) + u"&supportsAllDrives=true"_s)->status, 200);
    auto caps = json(
        get(u"/drive/v3/files/"_s + inDrive + u"?supportsAllDrives=true&fields=capabilities"_s));
    EXPECT_FALSE(at(caps, "capabilities.canEdit").toBool()) << "a reader of the drive";
    EXPECT_FALSE(at(caps, "capabilities.canTrash").toBool());
}

TEST_F(Uploads, ChunkedRequestBodiesAreRead)
{
    // A client that streams without announcing a length sends the chunk with chunked encoding.
    const QByteArray data = pattern(262144 * 2);
    const QString session = startUpload(u"chunked.bin"_s, account.rootFolderId, data.size());
    httplib::Headers h = auth({{"Content-Range", "bytes 0-524287/524288"}});
    auto r = client->Put(
        session.toStdString(), h,
        [&](size_t offset, httplib::DataSink &sink) {
            if (offset < size_t(data.size()))
                sink.write(data.constData() + offset,
                           std::min<size_t>(70000, data.size() - offset));
            else
                sink.done();
            return true;
        },
        "application/octet-stream");
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 200) << r->body;
    EXPECT_EQ(at(json(r), "md5Checksum").toString(), md5(data));
    const auto log = emu->requestLog();
    EXPECT_EQ(log.last().header(u"transfer-encoding"_s), u"chunked"_s);
    EXPECT_EQ(log.last().bodyLength, data.size());
}

TEST_F(Uploads, DeclaredLengthAndSimpleMediaUploads)
{
    const QString session = startUpload(u"d.bin"_s, account.rootFolderId, 1000);
    auto wrongTotal = putChunk(session, pattern(262144), 0, u"2000"_s);
    EXPECT_EQ(wrongTotal->status, 400) << "the total must be the declared X-Upload-Content-Length";
    EXPECT_EQ(putChunk(session, pattern(1000), 0, u"1000"_s)->status, 200);

    auto bad = send("POST", u"/upload/drive/v3/files?uploadType=resumable"_s,
                    auth({{"X-Upload-Content-Length", "-5"}}), "{}", "application/json");
    EXPECT_EQ(bad->status, 400);

    const QByteArray body = pattern(4096);
    auto media =
        send("POST", u"/upload/drive/v3/files?uploadType=media&fields=name,mimeType,size"_s, auth(),
             body, "image/png");
    ASSERT_EQ(media->status, 200);
    EXPECT_EQ(at(json(media), "name").toString(), u"Untitled"_s);
    EXPECT_EQ(at(json(media), "mimeType").toString(), u"image/png"_s);
    EXPECT_EQ(at(json(media), "size").toString(), u"4096"_s);
}

// Items of one size deleted and made again by several clients at once, each with bytes of its
// own: the checksum of every answer is that of the item's own bytes, never one kept from an item
// deleted just before or taken before the last chunk landed.
TEST_F(Uploads, ChecksumsStayTrueWhileSameSizedItemsAreDeletedAndMadeAgainAtOnce)
{
    constexpr int workers = 6;
    constexpr int rounds = 5;
    constexpr qint64 size = 3 * 262144 + 1000;
    const std::string bearer = "Bearer " + account.accessToken.toStdString();
    const std::string metadata =
        R"({"name":"same.bin","parents":[")" + account.rootFolderId.toStdString() + R"("]})";
    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    std::atomic<int> checked{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            httplib::Client c("127.0.0.1", emu->port());
            const httplib::Headers headers{{"Authorization", bearer}};
            for (int r = 0; r < rounds; ++r) {
                const QByteArray data =
                    DriveEmulator::generatedBytes(quint64(1000 * (w + 1) + r), 0, size);
                const std::string expected = md5(data).toStdString();
                httplib::Headers open = headers;
                open.emplace("X-Upload-Content-Length", std::to_string(size));
                auto opened = c.Post("/upload/drive/v3/files?uploadType=resumable"
                                     "&fields=id,size,md5Checksum",
                                     open, metadata, "application/json; charset=utf-8");
                if (!opened || opened->status != 200) {
                    ++failed;
                    return;
                }
                const std::string location = opened->get_header_value("Location");
                const std::string session = location.substr(location.find("/upload/"));
                int lastStatus = 0;
                std::string lastBody;
                for (qint64 offset = 0; offset < size; offset += 262144) {
                    const qint64 length = std::min<qint64>(262144, size - offset);
                    httplib::Headers chunk = headers;
                    chunk.emplace("Content-Range", "bytes " + std::to_string(offset) + '-' +
                                                       std::to_string(offset + length - 1) + '/' +
                                                       std::to_string(size));
                    auto sent = c.Put(session, chunk, data.constData() + offset,
                                      size_t(length), "application/octet-stream");
                    if (!sent) {
                        ++failed;
                        return;
                    }
                    lastStatus = sent->status;
                    lastBody = sent->body;
                }
                if (lastStatus != 200) {
                    ++failed;
                    return;
                }
                const QJsonObject item =
                    QJsonDocument::fromJson(QByteArray::fromStdString(lastBody)).object();
                const std::string id = item.value(u"id"_s).toString().toStdString();
                if (item.value(u"md5Checksum"_s).toString().toStdString() != expected)
                    ++wrong;
                auto meta = c.Get("/drive/v3/files/" + id + "?fields=size,md5Checksum", headers);
                if (!meta || QJsonDocument::fromJson(QByteArray::fromStdString(meta->body))
                                     .object()
                                     .value(u"md5Checksum"_s)
                                     .toString()
                                     .toStdString() != expected)
                    ++wrong;
                auto media = c.Get("/drive/v3/files/" + id + "?alt=media", headers);
                if (!media || QByteArray::fromStdString(media->body) != data)
                    ++wrong;
                auto gone = c.Delete("/drive/v3/files/" + id, headers);
                if (!gone || gone->status != 204)
                    ++failed;
                ++checked;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(checked.load(), workers * rounds);
    EXPECT_TRUE(emu->childIds(account.rootFolderId).isEmpty());
}
