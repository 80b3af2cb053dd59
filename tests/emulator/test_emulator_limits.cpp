// Google's per-user limits, seen from a plain HTTP client, on a clock that moves only when told.
#include "emulatorfixture.h"

#include <QProcess>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

class Limited : public EmulatorTest
{
protected:
    void SetUp() override
    {
        DriveEmulator::Options options;
        options.limitClock = [] { return std::chrono::nanoseconds(0); };
        emu = std::make_unique<DriveEmulator>(options);
        emu->start();
        account = emu->addTestAccount();
        // Days pass in these tests; the token must outlive them.
        account.accessToken = emu->issueAccessToken(account.email, std::chrono::seconds(-1));
        client = std::make_unique<httplib::Client>("127.0.0.1", emu->port());
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
        client->set_read_timeout(10);
    }

    httplib::Result createFolder(const QString &name, const QString &token = {})
    {
        const QJsonObject meta{{u"name"_s, name},
                               {u"mimeType"_s, u"application/vnd.google-apps.folder"_s}};
        return send("POST", u"/drive/v3/files"_s, auth(token), QJsonDocument(meta).toJson(),
                    "application/json");
    }

    httplib::Result uploadMedia(const QByteArray &bytes)
    {
        return send("POST", u"/upload/drive/v3/files?uploadType=media"_s, auth(), bytes,
                    "application/octet-stream");
    }

    httplib::Result uploadMultipart(const QByteArray &bytes)
    {
        const QByteArray body = "--b\r\nContent-Type: application/json\r\n\r\n{\"name\":\"m.bin\"}"
                                "\r\n--b\r\nContent-Type: application/octet-stream\r\n\r\n" +
                                bytes + "\r\n--b--";
        return send("POST", u"/upload/drive/v3/files?uploadType=multipart"_s, auth(), body,
                    "multipart/related; boundary=b");
    }

    httplib::Result controlLimits(const std::string &method, const QJsonObject &body = {})
    {
        return send(method, u"/__control/limits"_s, {}, QJsonDocument(body).toJson(),
                    "application/json");
    }

    int status(const httplib::Result &r) { return r ? r->status : -1; }

    // The log's verdicts on the requests after `after`: "STATUS limit".
    QStringList verdicts(qint64 after)
    {
        QStringList out;
        for (const RequestRecord &r : emu->requestLog(after))
            out.append(QString::number(r.status) + u' ' + r.limit);
        return out;
    }

    qint64 lastSequence()
    {
        const auto log = emu->requestLog();
        return log.isEmpty() ? 0 : log.last().sequence;
    }
};

// Google's envelope, compared whole.
QJsonObject envelope(int code, const QString &reason, const QString &message, bool withStatus)
{
    QJsonObject error{{u"code"_s, code},
                      {u"message"_s, message},
                      {u"errors"_s, QJsonArray{QJsonObject{{u"domain"_s, u"usageLimits"_s},
                                                           {u"reason"_s, reason},
                                                           {u"message"_s, message}}}}};
    if (withStatus)
        error.insert(u"status"_s, code == 429 ? u"RESOURCE_EXHAUSTED"_s : u"PERMISSION_DENIED"_s);
    return QJsonObject{{u"error"_s, error}};
}

} // namespace

TEST_F(Limited, WritesGetTheirBurstThenTheRate)
{
    LimitSettings limits;
    limits.writesPerSecond = 10;
    limits.writeBurst = 5;
    emu->setLimits(limits);
    const qint64 start = lastSequence();

    // A session opened while tokens last; its chunks later are not creations.
    const QString session = startUpload(u"late.bin"_s, account.rootFolderId);
    ASSERT_FALSE(session.isEmpty());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(status(createFolder(u"f%1"_s.arg(i))), 200) << i;
    auto refused = createFolder(u"one too many"_s);
    EXPECT_EQ(status(refused), 403);
    EXPECT_EQ(json(refused),
              envelope(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s, true));
    EXPECT_FALSE(refused->has_header("Retry-After")) << "only when asked for";

    // Every creation path spends the same bucket; queries and chunks do not.
    auto multipart = uploadMultipart("abc");
    EXPECT_EQ(status(multipart), 403);
    EXPECT_EQ(json(multipart),
              envelope(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s, false))
        << "upload answers keep the older envelope";
    EXPECT_EQ(status(uploadMedia("abc")), 403);
    EXPECT_TRUE(startUpload(u"x.bin"_s, account.rootFolderId).isEmpty());
    EXPECT_EQ(status(get(u"/drive/v3/about?fields=user"_s)), 200);
    EXPECT_EQ(status(putChunk(session, "done", 0, u"4"_s)), 200);

    // One token every 100 ms, never more than the burst.
    emu->advanceClock(99ms);
    EXPECT_EQ(status(createFolder(u"early"_s)), 403);
    emu->advanceClock(1ms);
    EXPECT_EQ(status(createFolder(u"due"_s)), 200);
    EXPECT_EQ(status(createFolder(u"not yet"_s)), 403);
    emu->advanceClock(1h);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(status(createFolder(u"g%1"_s.arg(i))), 200) << i;
    EXPECT_EQ(status(createFolder(u"past the burst"_s)), 403);

    // Each user has a bucket of their own.
    const TestAccount binh = emu->addTestAccount(u"binh@example.com"_s);
    EXPECT_EQ(status(createFolder(u"binh's"_s, binh.accessToken)), 200);

    const QStringList log = verdicts(start);
    EXPECT_EQ(log.count(u"403 writeRate"_s), 7);
    EXPECT_EQ(log.filter(u"200 "_s).size(), log.size() - 7) << qPrintable(log.join(u", "_s));
    const QJsonObject counters = emu->limitCounters();
    EXPECT_EQ(at(counters, "refused.writeRate").toInteger(), 7);
    EXPECT_EQ(at(counters, "accepted").toInteger(), log.size() - 7);
}

TEST_F(Limited, RetryAfterSaysWhenTheNextTokenIsDue)
{
    LimitSettings limits;
    limits.writesPerSecond = 0.5;
    limits.writeBurst = 1;
    limits.writeRefusal = LimitSettings::Refusal::TooManyRequests;
    limits.retryAfter = true;
    emu->setLimits(limits);

    EXPECT_EQ(status(createFolder(u"a"_s)), 200);
    auto refused = createFolder(u"b"_s);
    EXPECT_EQ(status(refused), 429);
    EXPECT_EQ(json(refused), envelope(429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s, true));
    EXPECT_EQ(refused->get_header_value("Retry-After"), "2");
    emu->advanceClock(1500ms);
    EXPECT_EQ(createFolder(u"b"_s)->get_header_value("Retry-After"), "1") << "rounded up";
    emu->advanceClock(500ms);
    EXPECT_EQ(status(createFolder(u"b"_s)), 200);

    // The 403 rateLimitExceeded form.
    limits.writeRefusal = LimitSettings::Refusal::RateLimit;
    emu->setLimits(limits);
    auto rateLimit = createFolder(u"c"_s);
    EXPECT_EQ(json(rateLimit),
              envelope(403, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s, true));
}

TEST_F(Limited, TheQueryBudgetCountsEveryCallInASlidingMinute)
{
    LimitSettings limits;
    limits.queriesPerMinute = 3;
    limits.queryRefusal = LimitSettings::Refusal::RateLimit;
    limits.retryAfter = true;
    emu->setLimits(limits);
    const QString about = u"/drive/v3/about?fields=user"_s;

    EXPECT_EQ(status(get(about)), 200); // t = 0
    emu->advanceClock(20s);
    EXPECT_EQ(status(createFolder(u"counts too"_s)), 200);
    EXPECT_FALSE(startUpload(u"s.bin"_s, account.rootFolderId).isEmpty());
    auto refused = get(about);
    EXPECT_EQ(status(refused), 403);
    EXPECT_EQ(json(refused), envelope(403, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s, true));
    EXPECT_EQ(refused->get_header_value("Retry-After"), "40") << "when the first call leaves";

    // Neither the token endpoint, nor the control API, nor a request without a token counts.
    const std::string refresh = "grant_type=refresh_token&refresh_token=" +
                                QUrl::toPercentEncoding(account.refreshToken).toStdString() +
                                "&client_id=" + account.clientId.toStdString() +
                                "&client_secret=" + account.clientSecret.toStdString();
    EXPECT_EQ(client->Post("/token", refresh, "application/x-www-form-urlencoded")->status, 200);
    EXPECT_EQ(status(client->Get("/__control/health")), 200);
    EXPECT_EQ(status(get(about, {})), 401);

    // Refusals spend nothing: once the first call is a minute old, one more gets through.
    emu->advanceClock(40s);
    EXPECT_EQ(status(get(about)), 200);
    EXPECT_EQ(status(get(about)), 403);
    const QJsonObject counters = emu->limitCounters();
    EXPECT_EQ(at(counters, "refused.queryRate").toInteger(), 2);
    EXPECT_EQ(at(counters, "users.0.queriesInWindow").toInteger(), 3);
}

TEST_F(Limited, Backend429sComeWithOrWithoutRetryAfterAsJsonOrHtml)
{
    LimitSettings limits;
    limits.backend429Every = 3;
    limits.backend429RetryAfter = 7;
    emu->setLimits(limits);
    const QString about = u"/drive/v3/about?fields=user"_s;

    EXPECT_EQ(status(get(about)), 200);
    EXPECT_EQ(status(get(about)), 200);
    auto json429 = get(about);
    EXPECT_EQ(status(json429), 429);
    EXPECT_EQ(json(json429), envelope(429, u"rateLimitExceeded"_s, u"Rate Limit Exceeded"_s, true));
    EXPECT_EQ(json429->get_header_value("Retry-After"), "7");

    limits.backend429RetryAfter = -1;
    limits.backend429Html = true;
    emu->setLimits(limits);
    EXPECT_EQ(status(get(about)), 200);
    EXPECT_EQ(status(get(about)), 200);
    auto html = get(about);
    EXPECT_EQ(status(html), 429);
    EXPECT_EQ(html->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    EXPECT_NE(html->body.find("<html"), std::string::npos);
    EXPECT_FALSE(html->has_header("Retry-After"));
    EXPECT_EQ(at(emu->limitCounters(), "refused.backend429").toInteger(), 2);
}

TEST_F(Limited, TheDailyUploadCapRefusesTheDayAndResetsAfterIt)
{
    LimitSettings limits;
    limits.dailyUploadBytes = 1'000'000;
    emu->setLimits(limits);

    EXPECT_EQ(status(uploadMedia(pattern(600'000))), 200);
    // A session that announces too much is refused at its start.
    const QJsonObject meta{{u"name"_s, u"big.bin"_s}};
    auto declared = send("POST", u"/upload/drive/v3/files?uploadType=resumable"_s,
                         auth({{"X-Upload-Content-Length", "500000"}}),
                         QJsonDocument(meta).toJson(), "application/json");
    EXPECT_EQ(status(declared), 403);
    EXPECT_EQ(json(declared),
              envelope(403, u"dailyLimitExceeded"_s, u"Daily Limit Exceeded"_s, false));
    EXPECT_FALSE(declared->has_header("Retry-After")) << "not a rate limit";

    // Without an announced length the chunks count as they land.
    const QByteArray data = pattern(3 * 262144);
    const QString session = startUpload(u"big.bin"_s, account.rootFolderId);
    EXPECT_EQ(status(putChunk(session, data.left(262144), 0, u"*"_s)), 308);
    auto refused = putChunk(session, data.mid(262144, 262144), 262144, u"*"_s);
    EXPECT_EQ(status(refused), 403);
    EXPECT_EQ(reason(refused), u"dailyLimitExceeded"_s);
    EXPECT_EQ(status(putChunk(session, {}, 0, u"*"_s)), 308) << "a status query uploads nothing";
    EXPECT_EQ(at(emu->limitCounters(), "users.0.uploadedToday").toString(), u"862144"_s);

    // Folders carry no bytes; the next day the upload goes on.
    EXPECT_EQ(status(createFolder(u"still fine"_s)), 200);
    emu->advanceClock(23h);
    EXPECT_EQ(status(putChunk(session, data.mid(262144, 262144), 262144, u"*"_s)), 403);
    emu->advanceClock(1h);
    EXPECT_EQ(status(putChunk(session, data.mid(262144), 262144, QString::number(data.size()))),
              200);
    EXPECT_EQ(emu->content(emu->findChild(account.rootFolderId, u"big.bin"_s)), data);

    // The form peers report from Google for the same cap.
    limits.dailyUploadReason = u"userRateLimitExceeded"_s;
    emu->setLimits(limits);
    EXPECT_EQ(json(uploadMedia(pattern(600'000))),
              envelope(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s, false));
}

TEST_F(Limited, StorageQuotaGuardsEveryPathThatAddsBytes)
{
    emu->setQuota(account.email, 1'000'000);
    const QJsonObject full{
        {u"error"_s,
         QJsonObject{
             {u"code"_s, 403},
             {u"message"_s, u"The user's Drive storage quota has been exceeded."_s},
             {u"errors"_s,
              QJsonArray{QJsonObject{
                  {u"domain"_s, u"global"_s},
                  {u"reason"_s, u"storageQuotaExceeded"_s},
                  {u"message"_s, u"The user's Drive storage quota has been exceeded."_s}}}}}}};
    const QByteArray tooMuch = pattern(1'000'001);
    EXPECT_EQ(json(uploadMedia(tooMuch)), full);
    EXPECT_EQ(json(uploadMultipart(tooMuch)), full);
    // A resumable upload sent whole, without Content-Range.
    const QString whole = startUpload(u"whole.bin"_s, account.rootFolderId);
    EXPECT_EQ(json(send("PUT", whole, auth(), tooMuch, "application/octet-stream")), full);
    // Exactly the quota fits; then even a byte is too much, but a folder is not.
    EXPECT_EQ(status(uploadMedia(pattern(1'000'000))), 200);
    EXPECT_EQ(reason(uploadMedia("x")), u"storageQuotaExceeded"_s);
    EXPECT_EQ(status(createFolder(u"folders take no quota"_s)), 200);
    EXPECT_EQ(emu->usage(account.email), 1'000'000);
}

TEST_F(Limited, TheControlApiChangesLimitsWhileTheyRun)
{
    auto set = controlLimits("POST", {{u"writesPerSecond"_s, 10}, {u"writeBurst"_s, 10}});
    ASSERT_EQ(status(set), 200);
    EXPECT_EQ(at(json(set), "settings.writesPerSecond").toDouble(), 10);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(status(createFolder(u"f%1"_s.arg(i))), 200);
    EXPECT_EQ(status(createFolder(u"no"_s)), 403);

    // Halved midway: a second now brings five.
    ASSERT_EQ(status(controlLimits("PATCH", {{u"writesPerSecond"_s, 5}})), 200);
    ASSERT_EQ(status(send("POST", u"/__control/clock"_s, {}, R"({"advanceMs":1000})",
                          "application/json")),
              200);
    int accepted = 0;
    while (status(createFolder(u"g"_s)) == 200 && accepted < 20)
        ++accepted;
    EXPECT_EQ(accepted, 5);

    const QJsonObject read = json(get(u"/__control/limits"_s, {}));
    EXPECT_EQ(at(read, "settings.writeBurst").toInt(), 10) << "PATCH keeps what it does not name";
    EXPECT_EQ(at(read, "counters.refused.writeRate").toInt(), 2);
    EXPECT_EQ(at(read, "counters.users.0.writeTokens").toInt(), 0);
    EXPECT_EQ(at(read, "counters.dayEndsInMs").toInteger(), 24 * 3600 * 1000 - 1000);

    // PUT states every limit; unknown or out-of-range members are refused whole.
    EXPECT_EQ(status(controlLimits("PUT", {{u"queriesPerMinute"_s, 100}})), 200);
    EXPECT_EQ(emu->limits().writesPerSecond, 0);
    EXPECT_EQ(status(controlLimits("PATCH", {{u"writesPerSecnd"_s, 1}})), 400);
    EXPECT_EQ(status(controlLimits("PATCH", {{u"backend429Probability"_s, 2}})), 400);
    EXPECT_EQ(status(controlLimits("PATCH", {{u"writesPerSecond"_s, 1e-9}})), 400);
    EXPECT_EQ(status(controlLimits("PATCH", {{u"writeRefusal"_s, u"slowDown"_s}})), 400);
    EXPECT_EQ(emu->limits().queriesPerMinute, 100);
    EXPECT_EQ(status(controlLimits("DELETE")), 200);
    EXPECT_EQ(emu->limits(), LimitSettings());
}

using Unlimited = EmulatorTest;

TEST_F(Unlimited, NothingIsRefusedOrCounted)
{
    EXPECT_EQ(emu->limits(), LimitSettings());
    for (int i = 0; i < 20; ++i) {
        const QJsonObject meta{{u"name"_s, u"f%1"_s.arg(i)},
                               {u"mimeType"_s, u"application/vnd.google-apps.folder"_s}};
        ASSERT_EQ(postJson(u"/drive/v3/files"_s, meta)->status, 200) << i;
    }
    for (const RequestRecord &r : emu->requestLog())
        EXPECT_TRUE(r.limit.isEmpty());
    EXPECT_EQ(at(emu->limitCounters(), "accepted").toInteger(), 0);
    EXPECT_FALSE(emu->requestLog().last().toJson().contains(u"limit"_s));
}

TEST(EmulatorLimitsProcess, CommandLineSetsTheLimits)
{
    QProcess process;
    process.start(QStringLiteral(TARNWICK_EMULATOR_BINARY),
                  {u"--access-token"_s, u"T"_s, u"--limits"_s,
                   uR"({"queriesPerMinute":2,"queryRefusal":"tooManyRequests"})"_s,
                   u"--write-rate"_s, u"3"_s, u"--limits-clock"_s, u"manual"_s});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(process.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith(u"listening on http://127.0.0.1:"_s)) << qPrintable(line);
    httplib::Client c("127.0.0.1", line.section(u':', -1).toInt());
    const httplib::Headers h{{"Authorization", "Bearer T"}};
    const QJsonObject settings =
        QJsonDocument::fromJson(QByteArray::fromStdString(c.Get("/__control/limits")->body))
            .object();
    EXPECT_EQ(at(settings, "settings.writesPerSecond").toDouble(), 3);
    EXPECT_EQ(at(settings, "settings.queriesPerMinute").toInt(), 2);
    EXPECT_EQ(c.Get("/drive/v3/about?fields=user", h)->status, 200);
    EXPECT_EQ(c.Get("/drive/v3/about?fields=user", h)->status, 200);
    EXPECT_EQ(c.Get("/drive/v3/about?fields=user", h)->status, 429)
        << "the manual clock stands still";
    process.terminate();
    ASSERT_TRUE(process.waitForFinished(10000));

    QProcess bad;
    bad.start(QStringLiteral(TARNWICK_EMULATOR_BINARY), {u"--write-rate"_s, u"-1"_s});
    ASSERT_TRUE(bad.waitForFinished(10000));
    EXPECT_EQ(bad.exitCode(), 2);
}
