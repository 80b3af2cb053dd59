#include "async/clock.h"
#include "records/errors.h"
#include "auth/oauthloopback.h"
#include "signintesting.h"
#include "support/testsupport.h"

#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace std::chrono_literals;

namespace {

// A loopback that is listening, with the redirect URI it handed out.
struct Listening
{
    std::unique_ptr<OAuthLoopback> loopback = std::make_unique<OAuthLoopback>();
    QString redirect;
    int opened = 0;
    std::shared_ptr<Captured<OAuthLoopback::Result>> outcome;

    explicit Listening(std::optional<QString> state = {})
    {
        if (state)
            loopback->expectState(*state);
        outcome = start(loopback->receive([this](const QString &uri) {
            redirect = uri;
            ++opened;
        }));
    }
    quint16 port() const { return portOf(redirect); }
    QByteArray callback(const QByteArray &target) const
    {
        return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) +
               "\r\nUser-Agent: test\r\n\r\n";
    }
    // Sends a request that must be closed without an answer and leave the wait running.
    void expectIgnored(const QByteArray &request)
    {
        RawClient client(port());
        ASSERT_TRUE(client.connected());
        client.send(request);
        EXPECT_TRUE(client.waitClosed()) << request.left(80).constData();
        EXPECT_TRUE(client.received().isEmpty()) << request.left(80).constData();
        QCoreApplication::processEvents();
        EXPECT_FALSE(outcome->done) << request.left(80).constData();
    }
    // Sends an acceptable callback and returns the server's answer.
    QByteArray expectAnswered(const QByteArray &request)
    {
        RawClient client(port());
        EXPECT_TRUE(client.connected());
        client.send(request);
        EXPECT_TRUE(client.waitClosed());
        EXPECT_TRUE(waitUntil([this] { return outcome->done; }));
        return client.received();
    }
};

} // namespace

TEST(OAuthLoopback, AnswerIsTheExactPageOf238Bytes)
{
    EXPECT_EQ(OAuthLoopback::page().size(), 238);
    const QByteArray answer = OAuthLoopback::answer();
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                  "Content-Length: 238\r\nConnection: close\r\n"
                                  "Cache-Control: no-store\r\n\r\n<!doctype html>"));
    EXPECT_TRUE(answer.endsWith("ket noi.</p></body>"));
}

TEST(OAuthLoopback, CallbackIsAnsweredAndItsUrlReturnedThenThePortCloses)
{
    Listening l;
    ASSERT_EQ(l.opened, 1);
    EXPECT_TRUE(QRegularExpression(u"^http://127\\.0\\.0\\.1:[1-9][0-9]*/oauth/callback$"_s)
                    .match(l.redirect)
                    .hasMatch())
        << l.redirect.toStdString();
    EXPECT_EQ(l.loopback->redirect(), l.redirect);

    const QByteArray answer =
        l.expectAnswered(l.callback("/oauth/callback?code=4%2F0Ab-x&state=s%20t&scope=a+b"));
    EXPECT_EQ(answer, OAuthLoopback::answer());
    ASSERT_TRUE(l.outcome->value) << l.outcome->errorText().toStdString();
    EXPECT_EQ(l.outcome->value->redirect, l.redirect);
    EXPECT_EQ(
        l.outcome->value->url.toString(QUrl::FullyEncoded),
        u"http://127.0.0.1:%1/oauth/callback?code=4%2F0Ab-x&state=s%20t&scope=a+b"_s.arg(l.port()));

    // One-shot: the port no longer listens, and late outcomes change nothing.
    RawClient second(l.port());
    EXPECT_TRUE(second.refused());
    l.loopback->finish(std::make_exception_ptr(TarnwickError(u"late"_s)));
    l.loopback->cancel();
    QCoreApplication::processEvents();
    EXPECT_TRUE(l.outcome->value);
    EXPECT_FALSE(l.outcome->error);
    EXPECT_FALSE(l.loopback->waiting());
}

TEST(OAuthLoopback, ErrorRedirectIsAcceptedLikeAnyCallback)
{
    Listening l;
    l.expectAnswered(l.callback("/oauth/callback?error=access_denied&state=x"));
    ASSERT_TRUE(l.outcome->value);
    EXPECT_EQ(l.outcome->value->url.query(), u"error=access_denied&state=x"_s);
}

// Anyone on the machine can reach the port: a callback with another state (or none) is refused
// with an error page and the sign-in goes on waiting for its own.
TEST(OAuthLoopback, CallbacksWithAnotherStateAreRefusedAndTheRightOneStillEndsTheWait)
{
    Listening l(u"good-state"_s);
    for (const QByteArray target :
         {"/oauth/callback?code=evil&state=bad"_ba, "/oauth/callback?code=evil"_ba,
          "/oauth/callback?code=evil&state=good-state&state=bad"_ba,
          "/oauth/callback?error=access_denied&state=good"_ba}) {
        RawClient client(l.port());
        ASSERT_TRUE(client.connected());
        client.send(l.callback(target));
        EXPECT_TRUE(client.waitClosed()) << target.constData();
        EXPECT_EQ(client.received(), OAuthLoopback::rejectedAnswer()) << target.constData();
        QCoreApplication::processEvents();
        EXPECT_FALSE(l.outcome->done) << target.constData();
        EXPECT_TRUE(l.loopback->waiting());
    }
    EXPECT_TRUE(OAuthLoopback::rejectedAnswer().startsWith("HTTP/1.1 400 Bad Request\r\n"));

    const QByteArray answer = l.expectAnswered(l.callback("/oauth/callback?code=ok&state=good-state"));
    EXPECT_EQ(answer, OAuthLoopback::answer());
    ASSERT_TRUE(l.outcome->value);
    EXPECT_EQ(l.outcome->value->url.query(), u"code=ok&state=good-state"_s);
}

TEST(OAuthLoopback, IconRequestIsClosedAndALaterCallbackStillSucceeds)
{
    Listening l;
    l.expectIgnored("GET /favicon.ico HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    l.expectAnswered(l.callback("/oauth/callback?code=c&state=s"));
    ASSERT_TRUE(l.outcome->value);
    EXPECT_EQ(l.outcome->value->url.query(), u"code=c&state=s"_s);
}

TEST(OAuthLoopback, ForeignOrMalformedRequestsAreClosedWithoutEndingTheWait)
{
    Listening l;
    l.expectIgnored("POST /oauth/callback?code=c HTTP/1.1\r\n\r\n");
    l.expectIgnored("get /oauth/callback?code=c HTTP/1.1\r\n\r\n");
    l.expectIgnored("GET /oauth/callback HTTP/1.1\r\n\r\n");
    l.expectIgnored("GET /oauth/callbacks?code=c HTTP/1.1\r\n\r\n");
    l.expectIgnored("GET /other/oauth/callback?code=c HTTP/1.1\r\n\r\n");
    l.expectIgnored("GET /oauth/callback?code=c HTTP/1.1 extra\r\n\r\n");
    l.expectIgnored("GET /oauth/callback?code=c\r\n\r\n");
    l.expectIgnored("GET\t/oauth/callback?code=c HTTP/1.1\r\n\r\n");
    // Not a valid URL once put behind the redirect's origin.
    l.expectIgnored("GET /oauth/callback?code=%zz HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(l.loopback->waiting());
}

TEST(OAuthLoopback, DoubledSpacesInTheRequestLineStillMakeThreePieces)
{
    Listening l;
    l.expectAnswered("GET  /oauth/callback?code=c  HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(l.outcome->value);
    EXPECT_EQ(l.outcome->value->url.path(), u"/oauth/callback"_s);
}

TEST(OAuthLoopback, HeadSplitAcrossReadsIsAnsweredOnceTheBlankLineArrives)
{
    Listening l;
    RawClient client(l.port());
    // The split also cuts a two-byte UTF-8 character in half: undecodable for a moment.
    const QByteArray head =
        "GET /oauth/callback?code=c HTTP/1.1\r\nX-Name: Vi\xe1\xbb\x87t\r\n\r\n";
    const qsizetype cut = head.indexOf('\xbb');
    client.send(head.left(20));
    EXPECT_TRUE(client.staysOpen());
    client.send(head.mid(20, cut - 20));
    EXPECT_TRUE(client.staysOpen());
    client.send(head.mid(cut, head.size() - cut - 2));
    EXPECT_TRUE(client.staysOpen());
    EXPECT_FALSE(l.outcome->done);
    client.send("\r\n");
    EXPECT_TRUE(client.waitClosed());
    EXPECT_EQ(client.received(), OAuthLoopback::answer());
    ASSERT_TRUE(waitUntil([&] { return l.outcome->done; }));
    EXPECT_TRUE(l.outcome->value);
}

TEST(OAuthLoopback, HeadLimitIs16KiBCountedOverTheWholeConnection)
{
    Listening l;
    // More than 16384 bytes without a blank line, sent in pieces: closed.
    {
        RawClient client(l.port());
        const QByteArray line = "X-Filler: " + QByteArray(990, 'a') + "\r\n";
        client.send("GET /oauth/callback?code=c HTTP/1.1\r\n");
        for (int i = 0; i < 17; ++i)
            client.send(line);
        EXPECT_TRUE(client.waitClosed());
        EXPECT_TRUE(client.received().isEmpty());
    }
    // A complete head of 16385 bytes is over the limit too.
    QByteArray head = "GET /oauth/callback?code=c HTTP/1.1\r\nX-Filler: ";
    head += QByteArray(16385 - head.size() - 4, 'b') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 16385);
    l.expectIgnored(head);
    EXPECT_TRUE(l.loopback->waiting());

    // Exactly 16384 bytes is still within it.
    head = "GET /oauth/callback?code=c HTTP/1.1\r\nX-Filler: ";
    head += QByteArray(16384 - head.size() - 4, 'b') + "\r\n\r\n";
    ASSERT_EQ(head.size(), 16384);
    EXPECT_EQ(l.expectAnswered(head), OAuthLoopback::answer());
}

TEST(OAuthLoopback, BytesThatAreNotUtf8OrAPeerThatLeavesEarlyAreDropped)
{
    Listening l;
    {
        RawClient client(l.port());
        client.send("GET /oauth/callback?code=\xff HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(client.staysOpen());
        client.send("more");
    }
    {
        RawClient client(l.port());
        client.send("GET /oauth/callback?code=c HTTP/1.1\r\n");
    }
    waitUntil([] { return false; }, 200ms);
    EXPECT_FALSE(l.outcome->done);
    EXPECT_TRUE(l.loopback->waiting());
    l.expectAnswered(l.callback("/oauth/callback?code=ok"));
    ASSERT_TRUE(l.outcome->value);
    EXPECT_EQ(l.outcome->value->url.query(), u"code=ok"_s);
}

TEST(OAuthLoopback, ConnectionsWithoutAWholeHeadIn10SecondsAreClosedAndTheWaitGoesOn)
{
    TestClock clock(0.001); // 10 s take 10 ms; the whole wait 900 ms
    Listening l;
    RawClient silent(l.port());
    ASSERT_TRUE(silent.connected());
    RawClient trickling(l.port());
    trickling.send("GET /oauth/callback?code=c HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    EXPECT_TRUE(silent.waitClosed());
    EXPECT_TRUE(trickling.waitClosed());
    EXPECT_TRUE(silent.received().isEmpty());
    EXPECT_TRUE(trickling.received().isEmpty());
    EXPECT_TRUE(
        clock.requestedDelays().contains(std::chrono::milliseconds(OAuthLoopback::requestLimit)));
    EXPECT_FALSE(l.outcome->done);
    EXPECT_TRUE(l.loopback->waiting());

    l.expectAnswered(l.callback("/oauth/callback?code=ok"));
    ASSERT_TRUE(l.outcome->value) << l.outcome->errorText().toStdString();
    EXPECT_EQ(l.outcome->value->url.query(), u"code=ok"_s);
}

TEST(OAuthLoopback, CancelFailsTheWaitAndClosesThePort)
{
    Listening l;
    RawClient idle(l.port());
    ASSERT_TRUE(idle.connected());
    const quint16 port = l.port();
    l.loopback->cancel();
    ASSERT_TRUE(waitUntil([&] { return l.outcome->done; }));
    EXPECT_TRUE(l.outcome->cancelled());
    EXPECT_TRUE(idle.waitClosed());
    RawClient after(port);
    EXPECT_TRUE(after.refused());
    EXPECT_TRUE(l.loopback->findChildren<QTimer *>().isEmpty() ||
                !l.loopback->findChild<QTimer *>()->isActive());
}

TEST(OAuthLoopback, DestroyingTheLoopbackEndsTheWaitAsCancelled)
{
    Listening l;
    const quint16 port = l.port();
    l.loopback.reset();
    ASSERT_TRUE(waitUntil([&] { return l.outcome->done; }));
    EXPECT_TRUE(l.outcome->cancelled());
    EXPECT_TRUE(RawClient(port).refused());
}

TEST(OAuthLoopback, FailureOfTheOpenCallbackEndsTheWaitWithIt)
{
    OAuthLoopback loopback;
    QString uri;
    auto outcome = start(loopback.receive([&](const QString &redirect) {
        uri = redirect;
        throw TarnwickError(u"no browser"_s);
    }));
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_EQ(outcome->errorText(), u"no browser"_s);
    EXPECT_TRUE(RawClient(portOf(uri)).refused());
}

TEST(OAuthLoopback, NothingArrivingTimesOutAfter900Seconds)
{
    TestClock clock(0.0001); // 900 s take 90 ms
    Listening l;
    ASSERT_TRUE(waitUntil([&] { return l.outcome->done; }, 5s));
    EXPECT_EQ(l.outcome->errorText(), OAuthLoopback::timeoutMessage());
    EXPECT_TRUE(OAuthLoopback::timeoutMessage().contains(
        u"nếu gặp màn \"Google chưa xác minh ứng dụng này\", bấm Nâng cao → Đi tới Tarnwick."_s));
    EXPECT_EQ(clock.requestedDelays(), QList<std::chrono::milliseconds>{900s});
    EXPECT_TRUE(RawClient(l.port()).refused());
}

TEST(OAuthLoopback, CancellingBeforeTheTimeoutLeavesNoTimerBehind)
{
    TestClock clock(0.0002); // 900 s take 180 ms
    Listening l;
    l.loopback->cancel();
    ASSERT_TRUE(waitUntil([&] { return l.outcome->done; }));
    waitUntil([] { return false; }, 400ms);
    EXPECT_TRUE(l.outcome->cancelled());
    for (QTimer *timer : l.loopback->findChildren<QTimer *>())
        EXPECT_FALSE(timer->isActive());
}
