// The control API over HTTP, persistence across restarts, the demo seed and the executable.
#include "emulatorfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

QString demoSeed()
{
    return QStringLiteral(TARNWICK_DEMO_SEED);
}

httplib::Result control(httplib::Client &c, const std::string &method, const std::string &path,
                        const QJsonObject &body = {})
{
    httplib::Request req;
    req.method = method;
    req.path = "/__control/" + path;
    if (method != "GET") {
        req.body = QJsonDocument(body).toJson().toStdString();
        req.set_header("Content-Type", "application/json");
    }
    return c.send(req);
}

} // namespace

using Control = EmulatorTest;

TEST_F(Control, HttpControlMirrorsTheCppApi)
{
    httplib::Client &c = *client;
    auto added = control(c, "POST", "faults",
                         {{u"method"_s, u"GET"_s},
                          {u"path"_s, u"^/drive/v3/about$"_s},
                          {u"status"_s, 502},
                          {u"html"_s, true}});
    ASSERT_EQ(added->status, 200);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 502);
    EXPECT_EQ(at(json(control(c, "GET", "faults")), "faults.0.fired").toInt(), 1);
    ASSERT_EQ(control(c, "DELETE", "faults")->status, 200);
    EXPECT_TRUE(emu->faults().isEmpty());

    const QJsonArray log = at(json(control(c, "GET", "log")), "requests").toArray();
    ASSERT_EQ(log.size(), 1);
    EXPECT_EQ(at(log, "0.status").toInt(), 502);
    control(c, "DELETE", "log");
    EXPECT_TRUE(emu->requestLog().isEmpty());

    const QString fileId =
        at(json(control(c, "POST", "items",
                        {{u"name"_s, u"ghi chú.txt"_s},
                         {u"owner"_s, account.email},
                         {u"content"_s, QJsonObject{{u"text"_s, u"xin chào"_s}}}})),
           "id")
            .toString();
    ASSERT_TRUE(emu->exists(fileId));
    auto bytes = get(u"/__control/items/"_s + fileId + u"/content"_s, {});
    EXPECT_EQ(QString::fromStdString(bytes->body), u"xin chào"_s);
    EXPECT_EQ(
        at(json(get(u"/__control/items/"_s + fileId + u"/checksums"_s, {})), "md5").toString(),
        emu->contentMd5(fileId));

    const QString token =
        at(json(control(c, "POST", "tokens", {{u"user"_s, account.email}, {u"lifetime"_s, 30}})),
           "access_token")
            .toString();
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(token))->status, 200);
    control(c, "POST", "clock", {{u"advanceSeconds"_s, 31}});
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(token))->status, 401);
    control(c, "POST", "tokens/expire", {{u"token"_s, account.accessToken}});
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 401);

    EXPECT_EQ(get(u"/tarnwick/latest.json"_s, {})->status, 404);
    httplib::Request put;
    put.method = "PUT";
    put.path = "/__control/manifest";
    put.body = R"({"mac":{"version":"9.9.9","url":"http://127.0.0.1/x"}})";
    ASSERT_EQ(c.send(put)->status, 200);
    auto manifest = get(u"/tarnwick/latest.json"_s, {});
    ASSERT_EQ(manifest->status, 200);
    EXPECT_EQ(manifest->body, put.body);

    EXPECT_EQ(control(c, "PATCH", "settings", {{u"shortPageEvery"_s, u"x"_s}})->status, 400);
    EXPECT_EQ(control(c, "GET", "nothing-here")->status, 404);

    // Reseeding replaces the world.
    httplib::Request reseed;
    reseed.method = "POST";
    reseed.path = "/__control/reseed";
    reseed.body = R"({"users":[{"email":"only@example.com"}]})";
    ASSERT_EQ(c.send(reseed)->status, 200);
    EXPECT_FALSE(emu->exists(fileId));
    EXPECT_FALSE(emu->rootFolderId(u"only@example.com"_s).isEmpty());
    reseed.body = "{not json";
    EXPECT_EQ(c.send(reseed)->status, 400);
}

TEST(EmulatorControl, SwitchedOffItAnswers404AndChangesNothing)
{
    DriveEmulator emu(DriveEmulator::Options{.control = false});
    emu.start();
    const TestAccount a = emu.addTestAccount();
    const QString file = emu.createFile(a.email, u"a.txt"_s, "a");
    httplib::Client c("127.0.0.1", emu.port());
    EXPECT_EQ(control(c, "GET", "health")->status, 404);
    EXPECT_EQ(control(c, "POST", "reset")->status, 404);
    EXPECT_EQ(control(c, "POST", "accounts", {{u"email"_s, u"x@example.com"_s}})->status, 404);
    EXPECT_TRUE(emu.exists(file));
    // The Drive API itself still answers.
    const httplib::Headers h{{"Authorization", "Bearer " + a.accessToken.toStdString()}};
    EXPECT_EQ(c.Get("/drive/v3/about?fields=user", h)->status, 200);
}

TEST(EmulatorPersistence, StateSurvivesARestart)
{
    QTemporaryDir dir;
    DriveEmulator::Options options;
    options.dataDir = dir.path();
    QString fileId, folderId, uploadId, token;
    QByteArray bytes(300'000, 'q');
    {
        DriveEmulator emu(options);
        emu.start();
        const TestAccount a = emu.addTestAccount(u"hoa@example.com"_s);
        token = emu.issueAccessToken(a.email, std::chrono::seconds(-1));
        folderId = emu.createFolder(a.email, u"Lưu trữ"_s);
        fileId = emu.createFile(a.email, u"dữ liệu.bin"_s, bytes, folderId);
        emu.share(fileId, u"someone@example.com"_s, u"writer"_s);

        httplib::Client c("127.0.0.1", emu.port());
        auto start = c.Post("/upload/drive/v3/files?uploadType=resumable",
                            {{"Authorization", "Bearer " + token.toStdString()}},
                            R"({"name":"half.bin"})", "application/json");
        ASSERT_EQ(start->status, 200);
        const std::string location = start->get_header_value("Location");
        const std::string path = location.substr(location.find("/upload/"));
        auto chunk = c.Put(path,
                           {{"Authorization", "Bearer " + token.toStdString()},
                            {"Content-Range", "bytes 0-262143/600000"}},
                           std::string(262144, 'z'), "application/octet-stream");
        ASSERT_EQ(chunk->status, 308);
        uploadId = QString::fromStdString(path.substr(path.find("upload_id=") + 10));
        emu.stop();
    }
    ASSERT_TRUE(QFile::exists(dir.filePath(u"state.json"_s)));
    // It holds the tokens it issued: for the user's eyes only.
    EXPECT_EQ(QFileInfo(dir.filePath(u"state.json"_s)).permissions(),
              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                  QFileDevice::WriteUser);
    DriveEmulator again(options);
    again.start();
    ASSERT_TRUE(again.exists(fileId));
    EXPECT_EQ(again.content(fileId), bytes);
    EXPECT_EQ(again.childIds(folderId), QStringList{fileId});
    const auto meta = again.itemMetadata(fileId);
    ASSERT_TRUE(meta);
    EXPECT_EQ(at(*meta, "permissions").toArray().size(), 2);
    EXPECT_EQ(again.uploadSessionReceived(uploadId), 262144);
    httplib::Client c("127.0.0.1", again.port());
    EXPECT_EQ(
        c.Get("/drive/v3/about?fields=user", {{"Authorization", "Bearer " + token.toStdString()}})
            ->status,
        200)
        << "tokens persist too";
}

TEST(EmulatorSeed, TheDemoSeedLoads)
{
    DriveEmulator::Options options;
    options.seedFile = demoSeed();
    DriveEmulator emu(options);
    emu.start();
    const QString me = u"minhanh.nguyen@example.com"_s;
    const QString root = emu.rootFolderId(me);
    ASSERT_FALSE(root.isEmpty());
    const QString photos = emu.findChild(root, u"Ảnh gia đình"_s);
    const QString video =
        emu.findChild(emu.findChild(photos, u"Video"_s), u"Đám cưới Hà & Nam.mp4"_s);
    ASSERT_FALSE(video.isEmpty());
    EXPECT_EQ(at(*emu.itemMetadata(video, {}, u"size"_s), "size").toString(), u"2147483648"_s);
    const QString shortcut = emu.findChild(root, u"Lối tắt tới Hợp đồng"_s);
    const QString contracts = emu.findChild(emu.findChild(root, u"Công việc"_s), u"Hợp đồng"_s);
    EXPECT_EQ(at(*emu.itemMetadata(shortcut), "shortcutDetails.targetId").toString(), contracts);
    EXPECT_GT(emu.usage(me), qint64(2) << 30);

    const TestAccount a = emu.addTestAccount(me);
    httplib::Client c("127.0.0.1", emu.port());
    const httplib::Headers h{{"Authorization", "Bearer " + a.accessToken.toStdString()}};
    auto quota = QJsonDocument::fromJson(
                     QByteArray::fromStdString(
                         c.Get("/drive/v3/about?fields=storageQuota(limit,usage)", h)->body))
                     .object();
    EXPECT_LT(at(quota, "storageQuota.usage").toString().toLongLong(),
              at(quota, "storageQuota.limit").toString().toLongLong());
    auto drives = c.Get("/drive/v3/drives?fields=drives(name)", h);
    EXPECT_NE(drives->body.find("Marketing"), std::string::npos);
    auto shared =
        c.Get("/drive/v3/"
              "files?q=sharedWithMe%20%3D%20true%20and%20trashed%20%3D%20false&fields=files(name)",
              h);
    EXPECT_NE(shared->body.find("Dự án cầu Sông Hồng"), std::string::npos);
    const QString photo = emu.findChild(emu.findChild(photos, u"Đà Lạt 2023"_s), u"IMG_0412.jpg"_s);
    auto thumb = c.Get((u"/thumbnails/"_s + photo + u"?sz=s220"_s).toStdString());
    ASSERT_EQ(thumb->status, 200);
    EXPECT_EQ(thumb->body.substr(1, 3), "PNG");
    const auto permissions =
        at(*emu.itemMetadata(emu.findChild(root, u"Công việc"_s)), "permissions").toArray();
    EXPECT_EQ(permissions.size(), 2) << "owner and a writer";

    EXPECT_THROW(
        DriveEmulator(DriveEmulator::Options{0, {}, "{\"items\":[{}]}", {}, {}, false, false}),
        std::runtime_error);
}

TEST(EmulatorSeed, ContentsAndThumbnailsMayBeFilesBesideTheSeed)
{
    QTemporaryDir dir;
    auto write = [&](const QString &name, const QByteArray &bytes) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    };
    const QByteArray png("\x89PNG\r\n\x1a\n tiny", 13);
    write(u"ghi chú.txt"_s, "xin chào");
    write(u"thumb.png"_s, png);
    const QJsonObject note{{u"name"_s, u"ghi chú.txt"_s},
                           {u"content"_s, QJsonObject{{u"file"_s, u"ghi chú.txt"_s}}},
                           {u"thumbnail"_s, QJsonObject{{u"file"_s, u"thumb.png"_s}}}};
    const QJsonObject world{
        {u"users"_s, QJsonArray{QJsonObject{{u"email"_s, u"an@example.com"_s}}}},
        {u"items"_s, QJsonArray{note}}};
    write(u"seed.json"_s, QJsonDocument(world).toJson());

    DriveEmulator::Options options;
    options.seedFile = dir.filePath(u"seed.json"_s);
    DriveEmulator emu(options);
    emu.start();
    const QString id = emu.findChild(emu.rootFolderId(u"an@example.com"_s), u"ghi chú.txt"_s);
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(emu.content(id), "xin chào");
    httplib::Client c("127.0.0.1", emu.port());
    EXPECT_EQ(QByteArray::fromStdString(c.Get("/thumbnails/" + id.toStdString())->body), png);

    QFile::remove(dir.filePath(u"thumb.png"_s));
    EXPECT_THROW(DriveEmulator{options}, std::runtime_error) << "a named file that is missing";
}

TEST(EmulatorProcess, PrintsItsAddressAndStopsOnSigterm)
{
    QProcess process;
    process.start(
        QStringLiteral(TARNWICK_EMULATOR_BINARY),
        {u"--port"_s, u"0"_s, u"--seed"_s, demoSeed(), u"--access-token"_s, u"fixed-token"_s});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(process.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(u"listening on http://127.0.0.1:"_s)) << qPrintable(line);
    const int port = line.section(u':', -1).toInt();
    httplib::Client c("127.0.0.1", port);
    auto about = c.Get("/drive/v3/about?fields=user(emailAddress)",
                       {{"Authorization", "Bearer fixed-token"}});
    ASSERT_TRUE(about);
    EXPECT_EQ(about->status, 200);
    EXPECT_NE(about->body.find("minhanh.nguyen@example.com"), std::string::npos)
        << "the token is the first user's";
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);

    QProcess help;
    help.start(QStringLiteral(TARNWICK_EMULATOR_BINARY), {u"--help"_s});
    ASSERT_TRUE(help.waitForFinished(10000));
    const QString usage = QString::fromUtf8(help.readAllStandardOutput());
    for (const QString &option :
         {u"--port"_s, u"--seed"_s, u"--data-dir"_s, u"--access-token"_s, u"--auto-consent"_s})
        EXPECT_TRUE(usage.contains(option)) << qPrintable(option);

    QProcess badSeed;
    badSeed.start(QStringLiteral(TARNWICK_EMULATOR_BINARY),
                  {u"--seed"_s, u"/nonexistent/seed.json"_s});
    ASSERT_TRUE(badSeed.waitForFinished(10000));
    EXPECT_NE(badSeed.exitCode(), 0);
}

TEST(EmulatorConnections, IdleKeepAlivesDoNotStarveNewClients)
{
    DriveEmulator emu;
    emu.start();
    const TestAccount a = emu.addTestAccount();
    const httplib::Headers h{{"Authorization", "Bearer " + a.accessToken.toStdString()}};
    // More idle keep-alive connections than the server has threads.
    std::vector<std::unique_ptr<httplib::Client>> idle;
    for (int i = 0; i < 220; ++i) {
        idle.push_back(std::make_unique<httplib::Client>("127.0.0.1", emu.port()));
        idle.back()->set_keep_alive(true);
        idle.back()->set_connection_timeout(5);
        idle.back()->set_read_timeout(5);
        ASSERT_TRUE(idle.back()->Get("/__control/health")) << i;
    }
    httplib::Client fresh("127.0.0.1", emu.port());
    fresh.set_read_timeout(5);
    QElapsedTimer timer;
    timer.start();
    auto r = fresh.Get("/drive/v3/about?fields=user", h);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_LT(timer.elapsed(), 3000);
}

TEST_F(Control, AccountsSessionsDrivesAndNotificationsOverHttp)
{
    httplib::Client &c = *client;
    const QJsonObject created = json(control(
        c, "POST", "accounts", {{u"email"_s, u"lan@example.com"_s}, {u"quotaLimit"_s, u"1000"_s}}));
    const QString token = at(created, "accessToken").toString();
    EXPECT_TRUE(at(created, "clientId").toString().endsWith(u".apps.googleusercontent.com"_s));
    EXPECT_EQ(
        get(u"/drive/v3/about?fields=storageQuota(limit)"_s, auth(token))->body.find("\"1000\"") !=
            std::string::npos,
        true);

    const QString session = startUpload(u"s.bin"_s, account.rootFolderId);
    putChunk(session, QByteArray(262144, 's'), 0, u"*"_s);
    const QJsonArray sessions = at(json(control(c, "GET", "sessions")), "sessions").toArray();
    ASSERT_EQ(sessions.size(), 1);
    EXPECT_EQ(at(sessions, "0.received").toString(), u"262144"_s);
    control(c, "POST", "sessions/expire", {{u"status"_s, 410}});
    EXPECT_EQ(putChunk(session, {}, 0, u"*"_s)->status, 410);

    const QString drive =
        at(json(control(c, "POST", "drives",
                        {{u"name"_s, u"Nhóm"_s},
                         {u"members"_s, QJsonArray{QJsonObject{{u"email"_s, account.email},
                                                               {u"role"_s, u"writer"_s}}}}})),
           "id")
            .toString();
    EXPECT_NE(get(u"/drive/v3/drives?fields=drives(name)"_s)->body.find("Nhóm"), std::string::npos);
    EXPECT_FALSE(drive.isEmpty());

    const QString file = emu->createFile(account.email, u"chia sẻ.txt"_s, "x");
    postJson(u"/drive/v3/files/"_s + file + u"/permissions"_s,
             {{u"type"_s, u"user"_s},
              {u"role"_s, u"reader"_s},
              {u"emailAddress"_s, u"lan@example.com"_s}});
    const QJsonArray sent = at(json(control(c, "GET", "notifications")), "notifications").toArray();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(at(sent, "0.to").toString(), u"lan@example.com"_s);
    control(c, "DELETE", "notifications");
    EXPECT_TRUE(emu->notifications().isEmpty());
}
