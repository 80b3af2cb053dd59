// Fault rules and the request log, seen from a plain HTTP client.
#include "emulatorfixture.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

using Faults = EmulatorTest;

TEST_F(Faults, StatusRulesFireAsOftenAsTold)
{
    const QString about = u"/drive/v3/about?fields=user"_s;
    FaultRule twice = FaultRule::respond(503, u"GET"_s, u"^/drive/v3/about$"_s);
    twice.times = 2;
    twice.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("1")));
    const int id = emu->addFault(twice);
    auto first = get(about);
    EXPECT_EQ(first->status, 503);
    EXPECT_EQ(reason(first), u"backendError"_s);
    EXPECT_EQ(first->get_header_value("Retry-After"), "1");
    EXPECT_EQ(get(about)->status, 503);
    EXPECT_EQ(get(about)->status, 200);
    EXPECT_EQ(emu->faultFired(id), 2);

    // skip lets requests through first; the method and query must match too.
    FaultRule third =
        FaultRule::respondError(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s);
    third.path = u"^/drive/v3/files$"_s;
    third.query = u"pageSize=7"_s;
    third.skip = 2;
    emu->addFault(third);
    EXPECT_EQ(get(u"/drive/v3/files?pageSize=7"_s)->status, 200);
    EXPECT_EQ(get(u"/drive/v3/files?pageSize=8"_s)->status, 200);
    EXPECT_EQ(get(u"/drive/v3/files?pageSize=7"_s)->status, 200);
    auto limited = get(u"/drive/v3/files?pageSize=7"_s);
    EXPECT_EQ(limited->status, 403);
    EXPECT_EQ(reason(limited), u"userRateLimitExceeded"_s);
    EXPECT_EQ(at(json(limited), "error.errors.0.domain").toString(), u"usageLimits"_s);

    FaultRule never = FaultRule::respond(500);
    never.probability = 0.0;
    never.times = 0;
    emu->addFault(never);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(get(about)->status, 200);

    emu->clearFaults();
    emu->addFault(FaultRule::respondHtml(429, u"GET"_s));
    auto html = get(about);
    EXPECT_EQ(html->status, 429);
    EXPECT_EQ(html->get_header_value("Content-Type").rfind("text/html", 0), 0u);
    EXPECT_TRUE(json(html).isEmpty()) << "an HTML body, not JSON";
}

TEST_F(Faults, AnAnswerLostAfterTheChunkLanded)
{
    const QByteArray data = pattern(524288 + 1000);
    const QString session = startUpload(u"lost.bin"_s, account.rootFolderId);
    FaultRule lost = FaultRule::respond(503, u"PUT"_s, u"^/upload/"_s);
    lost.afterHandler = true;
    emu->addFault(lost);
    EXPECT_EQ(putChunk(session, data.left(524288), 0, QString::number(data.size()))->status, 503);
    auto status = putChunk(session, {}, 0, QString::number(data.size()));
    ASSERT_EQ(status->status, 308);
    EXPECT_EQ(status->get_header_value("Range"), "bytes=0-524287") << "the chunk was kept";
}

TEST_F(Faults, ResetDuringAChunkKeepsWhole256KiBUnits)
{
    const QByteArray data = pattern(1048576);
    const QString session = startUpload(u"reset.bin"_s, account.rootFolderId);
    emu->addFault(FaultRule::resetRequestAfter(600000, u"PUT"_s, u"^/upload/"_s));
    auto broken = putChunk(session, data, 0, QString::number(data.size()));
    EXPECT_FALSE(broken) << "the connection was reset";
    auto status = putChunk(session, {}, 0, QString::number(data.size()));
    ASSERT_EQ(status->status, 308);
    EXPECT_EQ(status->get_header_value("Range"), "bytes=0-524287");
    auto rest = putChunk(session, data.mid(524288), 524288, QString::number(data.size()));
    ASSERT_EQ(rest->status, 200);
    EXPECT_EQ(emu->content(at(json(rest), "id").toString()), data);

    const auto log = emu->requestLog();
    const auto resetEntry = std::find_if(
        log.begin(), log.end(), [](const RequestRecord &r) { return !r.faults.isEmpty(); });
    ASSERT_NE(resetEntry, log.end());
    EXPECT_EQ(resetEntry->status, 0) << "no answer was sent";
    EXPECT_EQ(resetEntry->bodyLength, 600000);
}

TEST_F(Faults, ResetAfterPartOfADownload)
{
    const QString id = emu->createGeneratedFile(account.email, u"v.mp4"_s, 2'000'000, 9);
    emu->addFault(FaultRule::resetResponseAfter(100000, u"GET"_s, u"^/drive/v3/files/"_s));
    std::string received;
    auto r = client->Get((u"/drive/v3/files/"_s + id + u"?alt=media"_s).toStdString(), auth(),
                         [&](const char *data, size_t length) {
                             received.append(data, length);
                             return true;
                         });
    EXPECT_FALSE(r);
    EXPECT_EQ(received.size(), 100000u);
    EXPECT_EQ(QByteArray::fromStdString(received), DriveEmulator::generatedBytes(9, 0, 100000));
    auto resumed =
        get(u"/drive/v3/files/"_s + id + u"?alt=media"_s, auth({{"Range", "bytes=100000-"}}));
    ASSERT_EQ(resumed->status, 206);
    EXPECT_EQ(resumed->body.size(), 1'900'000u);
}

TEST_F(Faults, IgnoreRangeKeepFewerAndExpiry)
{
    const QString file = emu->createGeneratedFile(account.email, u"r.bin"_s, 1000, 3);
    emu->addFault(FaultRule::ignoreRange());
    auto whole =
        get(u"/drive/v3/files/"_s + file + u"?alt=media"_s, auth({{"Range", "bytes=500-"}}));
    EXPECT_EQ(whole->status, 200);
    EXPECT_EQ(whole->body.size(), 1000u);
    EXPECT_EQ(get(u"/drive/v3/files/"_s + file + u"?alt=media"_s, auth({{"Range", "bytes=500-"}}))
                  ->status,
              206);

    const QByteArray data = pattern(1048576 + 5);
    const QString session = startUpload(u"k.bin"_s, account.rootFolderId);
    emu->addFault(FaultRule::keepFewer(-1, u"^/upload/"_s));
    auto partial = putChunk(session, data.left(1048576), 0, QString::number(data.size()));
    ASSERT_EQ(partial->status, 308);
    EXPECT_EQ(partial->get_header_value("Range"), "bytes=0-524287") << "half, in whole units";
    emu->addFault(FaultRule::keepFewer(1000, u"^/upload/"_s));
    auto tiny = putChunk(session, data.mid(524288, 524288), 524288, QString::number(data.size()));
    EXPECT_EQ(tiny->get_header_value("Range"), "bytes=0-525287");

    emu->addFault(FaultRule::expireSession(u"PUT"_s));
    EXPECT_EQ(putChunk(session, {}, 0, u"*"_s)->status, 404);
    EXPECT_EQ(putChunk(session, {}, 0, u"*"_s)->status, 404) << "expired for good";

    emu->addFault(FaultRule::expireToken(u"GET"_s, u"^/drive/v3/about$"_s));
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 401);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 401);
}

TEST_F(Faults, DelayAndThrottleSlowRequestsDown)
{
    emu->addFault(FaultRule::delayBy(std::chrono::milliseconds(300), u"GET"_s, u"about"_s));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 200);
    EXPECT_GE(timer.elapsed(), 300);

    const QString file = emu->createGeneratedFile(account.email, u"slow.bin"_s, 200'000, 1);
    emu->addFault(FaultRule::throttle(400'000, u"GET"_s, u"^/drive/v3/files/"_s));
    timer.restart();
    auto r = get(u"/drive/v3/files/"_s + file + u"?alt=media"_s);
    EXPECT_EQ(r->body.size(), 200'000u);
    EXPECT_GE(timer.elapsed(), 400) << "200 kB at 400 kB/s";
    EXPECT_LE(timer.elapsed(), 3000);
}

TEST_F(Faults, TheLogKeepsWhatTheClientSentButNoTokens)
{
    emu->clearRequestLog();
    const QString session = startUpload(u"log.bin"_s, account.rootFolderId, 10);
    putChunk(session, "0123456789", 0, u"10"_s);
    get(u"/__control/health"_s, {});
    const auto log = emu->requestLog();
    ASSERT_EQ(log.size(), 2) << "control requests are not logged";
    EXPECT_EQ(log[0].method, u"POST"_s);
    EXPECT_EQ(log[0].queryValue(u"uploadType"_s), u"resumable"_s);
    EXPECT_EQ(log[0].header(u"X-Upload-Content-Length"_s), u"10"_s);
    EXPECT_EQ(log[0].status, 200);
    EXPECT_EQ(log[1].method, u"PUT"_s);
    EXPECT_EQ(log[1].header(u"content-range"_s), u"bytes 0-9/10"_s);
    EXPECT_EQ(log[1].bodyLength, 10);
    EXPECT_EQ(log[1].status, 200);
    EXPECT_TRUE(log[1].hasAuthorization);
    EXPECT_EQ(log[1].tokenFingerprint, DriveEmulator::tokenFingerprint(account.accessToken));
    for (const RequestRecord &r : log) {
        const QByteArray dump = QJsonDocument(r.toJson()).toJson();
        EXPECT_FALSE(dump.contains(account.accessToken.toUtf8())) << "a token reached the log";
    }
    EXPECT_EQ(emu->requestLog(log[0].sequence).size(), 1);
    emu->clearRequestLog();
    EXPECT_TRUE(emu->requestLog().isEmpty());
}

TEST(FaultRuleJson, RoundTripsAndRejectsNonsense)
{
    FaultRule rule = FaultRule::resetResponseAfter(12345, u"GET"_s, u"^/drive/"_s);
    rule.times = 3;
    rule.skip = 1;
    rule.probability = 0.5;
    rule.query = u"alt=media"_s;
    FaultRule back = FaultRule::fromJson(rule.toJson());
    back.id = rule.id;
    EXPECT_EQ(back, rule);
    FaultRule html = FaultRule::fromJson(QJsonObject{{u"status"_s, 502}, {u"html"_s, true}});
    EXPECT_TRUE(html.contentType.startsWith(u"text/html"_s));
    EXPECT_THROW(FaultRule::fromJson(QJsonObject{{u"action"_s, u"explode"_s}}),
                 std::invalid_argument);
    EXPECT_THROW(FaultRule::fromJson(QJsonObject{{u"status"_s, 1000}}), std::invalid_argument);
    DriveEmulator emu;
    EXPECT_THROW(emu.addFault(FaultRule::respond(500, {}, u"([unclosed"_s)), std::invalid_argument);
}

TEST_F(Faults, ResetsWithoutABodyAndSlowUploads)
{
    emu->addFault(FaultRule::resetRequestAfter(0, u"GET"_s, u"^/drive/v3/about$"_s));
    EXPECT_FALSE(get(u"/drive/v3/about?fields=user"_s)) << "reset before any answer";
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 200) << "once";

    const QString session = startUpload(u"slow.bin"_s, account.rootFolderId);
    emu->addFault(FaultRule::throttle(1'000'000, u"PUT"_s, u"^/upload/"_s));
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(putChunk(session, pattern(524288), 0, u"524288"_s)->status, 200);
    EXPECT_GE(timer.elapsed(), 400) << "half a megabyte at a megabyte per second";
}

TEST_F(Faults, ProbabilisticRulesRepeatWithTheSameSeed)
{
    auto run = [&] {
        emu->clearFaults();
        emu->setFaultRandomSeed(7);
        FaultRule coin = FaultRule::respond(500, u"GET"_s, u"about"_s);
        coin.times = 0;
        coin.probability = 0.5;
        emu->addFault(coin);
        QString pattern;
        for (int i = 0; i < 24; ++i)
            pattern += get(u"/drive/v3/about?fields=user"_s)->status == 500 ? u'x' : u'.';
        return pattern;
    };
    const QString first = run();
    EXPECT_EQ(run(), first);
    EXPECT_TRUE(first.contains(u'x') && first.contains(u'.')) << qPrintable(first);
}
