// Sign-in end to end: GoogleAuth against the Drive emulator's OAuth endpoints, a scripted browser,
// and the real keychain of the test session.
#include "async/async.h"
#include "async/clock.h"
#include "drive/decodingerror.h"
#include "net/endpoints.h"
#include "records/errors.h"
#include "auth/googleauth.h"
#include "net/httpengine.h"
#include "auth/keychainstore.h"
#include "auth/oauthloopback.h"
#include "auth/oauthutilities.h"
#include "async/runsync.h"
#include "net/tarnwicknetwork.h"
#include "driveemulator.h"
#include "signintesting.h"
#include "support/testsupport.h"

#include <QMutex>
#include <QUrlQuery>
#include <QUuid>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace std::chrono_literals;
using Emulator::DriveEmulator;
using Emulator::FaultRule;

namespace {

// Every message the process logs, so tests can prove no token or code reached the log.
class LogCapture final
{
public:
    LogCapture() { s_previous = qInstallMessageHandler(&LogCapture::handle); }
    ~LogCapture() { qInstallMessageHandler(s_previous); }
    static QString all()
    {
        QMutexLocker lock(&s_mutex);
        return s_messages.join(u'\n');
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        {
            QMutexLocker lock(&s_mutex);
            s_messages.append(message);
        }
        if (s_previous)
            s_previous(type, context, message);
    }
    static inline QtMessageHandler s_previous = nullptr;
    static inline QMutex s_mutex;
    static inline QStringList s_messages;
};

// What the scripted browser saw.
struct BrowserTrip
{
    int consentStatus = 0;
    QUrl callback; // where the authorization endpoint sent it back
    int pageStatus = 0;
    QByteArray page;
    QString error;
    bool done = false;
};

// Follows the authorization URL like a browser: the emulator approves at once and redirects to
// the loopback, whose page is then fetched.
QCoro::Task<> browse(QUrl url, std::shared_ptr<BrowserTrip> trip)
{
    HttpRequest consent;
    consent.url = url;
    const HttpResponse approval = co_await TarnwickNetwork::session().send(consent);
    trip->consentStatus = approval.status;
    trip->callback = QUrl(QString::fromUtf8(approval.header("Location")));
    HttpRequest back;
    back.url = trip->callback;
    const HttpResponse page = co_await TarnwickNetwork::session().send(back);
    trip->pageStatus = page.status;
    trip->page = page.body;
    trip->done = true;
}

class SignInWithEmulator : public ::testing::Test
{
protected:
    void SetUp() override
    {
        emulator.start();
        account = emulator.addTestAccount();
        Endpoints::setCurrent(Endpoints::withBase(QUrl(emulator.baseUrl())));
        auth = makeAuth();
    }
    void TearDown() override
    {
        auth.reset();
        const QStringList kept = secrets();
        const QString log = LogCapture::all();
        for (const QString &secret : kept)
            EXPECT_FALSE(!secret.isEmpty() && log.contains(secret)) << "a secret reached the log";
        Endpoints::setCurrent(Endpoints::defaults());
        runSync(keychain.remove(KeychainStore::tokensAccount()));
        runSync(keychain.remove(KeychainStore::configurationAccount()));
    }

    std::unique_ptr<GoogleAuth> makeAuth()
    {
        auto made = std::make_unique<GoogleAuth>(TarnwickNetwork::session(), keychain);
        made->setBundledConfigurationPath(u"/nonexistent/GoogleOAuth.json"_s);
        return made;
    }
    QByteArray clientJson(const QString &secret) const
    {
        return u"{\"installed\":{\"client_id\":\"%1\",\"client_secret\":\"%2\"}}"_s
            .arg(account.clientId, secret)
            .toUtf8();
    }
    // Configured with the emulator's client; signed out.
    void configure(const QString &secret = {})
    {
        runSync(auth->restore());
        runSync(auth->configure(clientJson(secret.isNull() ? account.clientSecret : secret)));
    }
    // Signed in with stored tokens that expire after `left`.
    void signedIn(std::chrono::seconds left)
    {
        configure();
        runSync(
            keychain.save(GoogleAuth::Tokens{account.accessToken, account.refreshToken,
                                             clock.now().addSecs(left.count()), account.clientId}
                              .toJsonBytes(),
                          KeychainStore::tokensAccount()));
        auth = makeAuth();
        runSync(auth->restore());
        ASSERT_TRUE(auth->connected());
    }
    std::optional<GoogleAuth::Tokens> storedTokens()
    {
        const auto bytes = runSync(keychain.read(KeychainStore::tokensAccount()));
        if (!bytes)
            return std::nullopt;
        return GoogleAuth::Tokens::fromJsonBytes(*bytes);
    }
    int tokenRequests() const
    {
        int count = 0;
        for (const auto &record : emulator.requestLog())
            count += record.path == u"/token"_s;
        return count;
    }
    std::shared_ptr<Captured<void>> startLogin()
    {
        return start(auth->login([trip = trip](const QUrl &url) {
            detach(browse(url, trip),
                   [trip](const std::exception &e) { trip->error = describe(e); });
        }));
    }
    QStringList secrets() const
    {
        QStringList list{account.accessToken, account.refreshToken, account.clientSecret,
                         QUrlQuery(trip->callback).queryItemValue(u"code"_s)};
        if (const auto bytes = runSync(keychain.read(KeychainStore::tokensAccount()))) {
            const auto tokens = GoogleAuth::Tokens::fromJsonBytes(*bytes);
            list << tokens.accessToken << tokens.refreshToken.value_or(QString());
        }
        return list;
    }

    LogCapture logCapture;
    // "now" stands still unless a test moves it; delays keep their real length.
    TestClock clock{1.0, QDateTime(QDate(2031, 3, 4), QTime(5, 6, 7), Qt::UTC)};
    DriveEmulator emulator{DriveEmulator::Options{.autoConsent = true}};
    Emulator::TestAccount account;
    KeychainStore keychain{u"com.tarnwick.test."_s + QUuid::createUuid().toString(QUuid::Id128)};
    std::unique_ptr<GoogleAuth> auth;
    std::shared_ptr<BrowserTrip> trip = std::make_shared<BrowserTrip>();
};

QString failureOf(const std::shared_ptr<Captured<void>> &outcome)
{
    return outcome->errorText();
}

} // namespace

TEST_F(SignInWithEmulator, BrowserSignInStoresWorkingTokensInTheKeychain)
{
    configure();
    auto login = startLogin();
    ASSERT_TRUE(waitUntil([&] { return login->done; }));
    ASSERT_FALSE(login->error) << login->errorText().toStdString() << trip->error.toStdString();

    // The emulator checked the challenge against the verifier, the redirect URI and the secret.
    EXPECT_EQ(trip->consentStatus, 302);
    EXPECT_EQ(trip->pageStatus, 200);
    EXPECT_EQ(trip->page, OAuthLoopback::page());
    EXPECT_TRUE(auth->connected());
    EXPECT_FALSE(auth->loginPending());

    const auto tokens = storedTokens();
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->clientID, account.clientId);
    ASSERT_TRUE(tokens->refreshToken);
    EXPECT_EQ(tokens->expires, clock.now().addSecs(3599));

    // The token is one the Drive API accepts, and it is handed out without another request.
    const int requests = tokenRequests();
    const QString token = runSync(auth->accessToken(false));
    EXPECT_EQ(token, tokens->accessToken);
    EXPECT_EQ(tokenRequests(), requests);
    HttpRequest about;
    about.url = QUrl(emulator.baseUrl() + u"/drive/v3/about?fields=user"_s);
    about.headers = {{"Authorization", "Bearer " + token.toUtf8()}};
    EXPECT_EQ(runSync(TarnwickNetwork::session().send(about)).status, 200);

    // A fresh start finds the session again.
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_TRUE(auth->connected());
}

TEST_F(SignInWithEmulator, TokenWith61SecondsLeftIsUsedAndWith60IsRefreshed)
{
    signedIn(61s);
    EXPECT_EQ(runSync(auth->accessToken(false)), account.accessToken);
    EXPECT_EQ(tokenRequests(), 0);

    clock.advance(1s);
    const QString fresh = runSync(auth->accessToken(false));
    EXPECT_NE(fresh, account.accessToken);
    EXPECT_EQ(tokenRequests(), 1);
    // Google sends no new refresh token with a refresh: the old one is kept.
    const auto tokens = storedTokens();
    ASSERT_TRUE(tokens);
    EXPECT_EQ(tokens->accessToken, fresh);
    EXPECT_EQ(tokens->refreshToken, account.refreshToken);
    EXPECT_EQ(tokens->expires, clock.now().addSecs(3599));
    EXPECT_EQ(runSync(auth->accessToken(false)), fresh);
    EXPECT_EQ(tokenRequests(), 1);
}

TEST_F(SignInWithEmulator, ForcedRefreshReplacesATokenTheApiRejected)
{
    signedIn(3600s);
    emulator.expireAccessToken(account.accessToken);
    const QString fresh = runSync(auth->accessToken(true));
    EXPECT_NE(fresh, account.accessToken);
    EXPECT_EQ(storedTokens()->accessToken, fresh);
}

TEST_F(SignInWithEmulator, RevokedRefreshTokenFailsAndKeepsTheStoredTokens)
{
    signedIn(3600s);
    const auto before = runSync(keychain.read(KeychainStore::tokensAccount()));
    emulator.revokeAllRefreshTokens();
    try {
        runSync(auth->accessToken(true));
        ADD_FAILURE() << "the refresh should fail";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(), OAuthUtilities::tokenFailure(
                                   u"invalid_grant"_s, u"Token has been expired or revoked."_s));
    }
    EXPECT_EQ(runSync(keychain.read(KeychainStore::tokensAccount())), before);
    EXPECT_TRUE(auth->connected());
    EXPECT_EQ(runSync(auth->accessToken(false)), account.accessToken);
}

TEST_F(SignInWithEmulator, AnErrorPageFromTheTokenEndpointGivesTheGenericMessage)
{
    signedIn(3600s);
    emulator.addFault(FaultRule::respondHtml(502, u"POST"_s, u"^/token$"_s));
    try {
        runSync(auth->accessToken(true));
        ADD_FAILURE() << "the refresh should fail";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(),
                  u"Google chưa chấp nhận đăng nhập. Hãy kiểm tra kết nối mạng rồi thử lại."_s);
    }
    EXPECT_EQ(storedTokens()->accessToken, account.accessToken);
}

TEST_F(SignInWithEmulator, DisconnectDuringARefreshDropsItsResult)
{
    signedIn(3600s);
    emulator.addFault(FaultRule::delayBy(400ms, u"POST"_s, u"^/token$"_s));
    auto refresh = start(auth->accessToken(true));
    waitUntil([] { return false; }, 100ms);
    runSync(auth->disconnect());
    EXPECT_FALSE(auth->connected());
    ASSERT_TRUE(waitUntil([&] { return refresh->done; }));
    EXPECT_TRUE(refresh->cancelled()) << refresh->errorText().toStdString();
    EXPECT_EQ(tokenRequests(), 1);
    EXPECT_EQ(storedTokens(), std::nullopt);
    EXPECT_FALSE(auth->connected());
}

TEST_F(SignInWithEmulator, DisconnectDuringTheCodeExchangeStoresNothing)
{
    configure();
    emulator.addFault(FaultRule::delayBy(400ms, u"POST"_s, u"^/token$"_s));
    auto login = startLogin();
    ASSERT_TRUE(waitUntil([&] { return trip->done; }));
    runSync(auth->disconnect());
    ASSERT_TRUE(waitUntil([&] { return login->done; }));
    EXPECT_TRUE(login->cancelled()) << login->errorText().toStdString();
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(storedTokens(), std::nullopt);
}

TEST_F(SignInWithEmulator, DisconnectRevokesTheGrantAtGoogle)
{
    signedIn(3600s);
    runSync(auth->disconnect());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(storedTokens(), std::nullopt);
    const auto revoked = [&] {
        for (const auto &record : emulator.requestLog())
            if (record.path == u"/revoke"_s && record.status == 200)
                return record;
        return Emulator::RequestRecord();
    };
    ASSERT_TRUE(waitUntil([&] { return revoked().status == 200; }));
    EXPECT_EQ(revoked().method, u"POST"_s);
    EXPECT_EQ(revoked().header(u"Content-Type"_s), u"application/x-www-form-urlencoded"_s);
    // Neither token is known any more: the refresh token took the access token with it.
    EXPECT_FALSE(emulator.revokeToken(account.refreshToken));
    EXPECT_FALSE(emulator.revokeToken(account.accessToken));
}

TEST_F(SignInWithEmulator, DisconnectStandsWhateverTheRevocationMeets)
{
    // Google refuses.
    signedIn(3600s);
    emulator.addFault(FaultRule::respond(503, u"POST"_s, u"^/revoke$"_s));
    runSync(auth->disconnect());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(storedTokens(), std::nullopt);
    ASSERT_TRUE(waitUntil([&] {
        for (const auto &record : emulator.requestLog())
            if (record.path == u"/revoke"_s)
                return record.status == 503;
        return false;
    }));
    EXPECT_TRUE(emulator.revokeToken(account.refreshToken));

    // No network: nothing listens where the revocation goes.
    Endpoints offline = Endpoints::withBase(QUrl(emulator.baseUrl()));
    offline.revocation = QUrl(u"http://127.0.0.1:1/revoke"_s);
    Endpoints::setCurrent(offline);
    account = emulator.addTestAccount();
    signedIn(3600s);
    runSync(auth->disconnect());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(storedTokens(), std::nullopt);
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_FALSE(auth->connected());
}

TEST_F(SignInWithEmulator, WrongClientSecretIsReportedAsTheDevelopersFault)
{
    configure(u"not-the-secret"_s);
    auto login = startLogin();
    ASSERT_TRUE(waitUntil([&] { return login->done; }));
    EXPECT_EQ(failureOf(login),
              u"Google không chấp nhận OAuth client của Tarnwick. Đây là lỗi cấu hình phía nhà "
              u"phát triển. Google báo: Unauthorized"_s);
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(storedTokens(), std::nullopt);
}

TEST_F(SignInWithEmulator, UserOutsideTheTestUsersIsDenied)
{
    emulator.addOAuthClient(u"333-testing.apps.googleusercontent.com"_s, u"s3"_s, true,
                            {u"someone.else@example.com"_s});
    runSync(auth->restore());
    runSync(auth->configure(
        R"({"installed":{"client_id":"333-testing.apps.googleusercontent.com","client_secret":"s3"}})"));
    auto login = startLogin();
    ASSERT_TRUE(waitUntil([&] { return login->done; }));
    EXPECT_TRUE(
        failureOf(login).startsWith(u"Google đã chặn đăng nhập. Nếu anh không tự bấm Hủy"_s))
        << failureOf(login).toStdString();
    EXPECT_EQ(tokenRequests(), 0);
}

// The exact bodies of token requests, seen by a recording endpoint.
class TokenRequestBodies : public SignInWithEmulator
{
protected:
    void SetUp() override
    {
        SignInWithEmulator::SetUp();
        Endpoints endpoints = Endpoints::current();
        endpoints.token = fake.url();
        Endpoints::setCurrent(endpoints);
    }
    FakeTokenEndpoint fake;
};

TEST_F(TokenRequestBodies, RefreshSendsSortedEncodedFieldsAndNoSecretWhenThereIsNone)
{
    runSync(auth->restore());
    runSync(
        auth->configure(R"({"installed":{"client_id":"444-open.apps.googleusercontent.com"}})"));
    runSync(keychain.save(GoogleAuth::Tokens{u"old"_s, u"1//r+/x y"_s, clock.now().addSecs(10),
                                             u"444-open.apps.googleusercontent.com"_s}
                              .toJsonBytes(),
                          KeychainStore::tokensAccount()));
    auth = makeAuth();
    runSync(auth->restore());
    fake.answer(200, R"({"access_token":"new","expires_in":3599.5,"token_type":"Bearer"})");
    EXPECT_EQ(runSync(auth->accessToken(false)), u"new"_s);
    ASSERT_EQ(fake.bodies().size(), 1);
    EXPECT_EQ(fake.bodies().first(),
              "client_id=444-open.apps.googleusercontent.com&grant_type=refresh_token&"
              "refresh_token=1%2F%2Fr%2B%2Fx%20y");
    EXPECT_EQ(storedTokens()->expires, clock.now().addMSecs(3599500));
    EXPECT_EQ(storedTokens()->refreshToken, u"1//r+/x y"_s);
}

TEST_F(TokenRequestBodies, MalformedAnswersChangeNothing)
{
    signedIn(5s);
    const auto before = runSync(keychain.read(KeychainStore::tokensAccount()));

    fake.answer(200, R"({"expires_in":3600})");
    EXPECT_THROW(runSync(auth->accessToken(false)), DecodingError);
    fake.answer(200, R"({"access_token":"x","expires_in":"soon"})");
    EXPECT_THROW(runSync(auth->accessToken(false)), DecodingError);
    // An error body of the wrong shape counts as one without a code.
    fake.answer(400, R"({"error":42,"error_description":"x"})");
    try {
        runSync(auth->accessToken(false));
        ADD_FAILURE() << "the refresh should fail";
    } catch (const TarnwickError &e) {
        EXPECT_EQ(e.message(),
                  u"Google chưa chấp nhận đăng nhập. Hãy kiểm tra kết nối mạng rồi thử lại."_s);
    }
    EXPECT_EQ(fake.bodies().size(), 3);
    EXPECT_TRUE(fake.bodies().first().contains("client_secret="));
    EXPECT_EQ(runSync(keychain.read(KeychainStore::tokensAccount())), before);
}
