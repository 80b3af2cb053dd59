#include "async/clock.h"
#include "drive/decodingerror.h"
#include "net/endpoints.h"
#include "records/errors.h"
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "async/runsync.h"
#include "net/tarnwicknetwork.h"
#include "signintesting.h"
#include "support/testsupport.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;
using namespace std::chrono_literals;

namespace {

const QString clientA = u"111-a.apps.googleusercontent.com"_s;
const QString clientB = u"222-b.apps.googleusercontent.com"_s;

QByteArray clientJson(const QString &clientID, const QString &secret = u"secret"_s)
{
    return u"{\"installed\":{\"client_id\":\"%1\",\"client_secret\":\"%2\"}}"_s
        .arg(clientID, secret)
        .toUtf8();
}

QByteArray storedConfiguration(const QString &clientID)
{
    return OAuthConfiguration{clientID, u"secret"_s}.toJsonBytes();
}

QByteArray storedTokens(std::optional<QString> clientID, QDateTime expires)
{
    return GoogleAuth::Tokens{u"stored-access"_s, u"stored-refresh"_s, expires, clientID}
        .toJsonBytes();
}

// A GoogleAuth on a keychain service of its own, emptied again after the test.
class GoogleAuthState : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        auth = makeAuth();
    }
    void TearDown() override
    {
        auth.reset();
        runSync(keychain.remove(KeychainStore::tokensAccount()));
        runSync(keychain.remove(KeychainStore::configurationAccount()));
    }
    std::unique_ptr<GoogleAuth> makeAuth()
    {
        auto made = std::make_unique<GoogleAuth>(TarnwickNetwork::session(), keychain);
        made->setBundledConfigurationPath(dir.filePath(u"GoogleOAuth.json"_s));
        return made;
    }
    void ship(const QByteArray &json) { writeFile(dir.filePath(u"GoogleOAuth.json"_s), json); }
    void store(const QString &account, const QByteArray &bytes)
    {
        runSync(keychain.save(bytes, account));
    }
    std::optional<QByteArray> stored(const QString &account)
    {
        return runSync(keychain.read(account));
    }

    TestClock clock{0.001, QDateTime(QDate(2030, 5, 1), QTime(12, 0), Qt::UTC)};
    KeychainStore keychain = freshStore();
    QTemporaryDir dir;
    std::unique_ptr<GoogleAuth> auth;
};

} // namespace

TEST(GoogleAuthTokens, KeychainJsonCountsSecondsFrom2001AndOmitsAbsentMembers)
{
    const QDateTime expires(QDate(2001, 1, 1), QTime(0, 1, 40, 500), Qt::UTC);
    const GoogleAuth::Tokens tokens{u"a"_s, std::nullopt, expires, std::nullopt};
    const QJsonObject json = QJsonDocument::fromJson(tokens.toJsonBytes()).object();
    EXPECT_EQ(json, (QJsonObject{{u"accessToken"_s, u"a"_s}, {u"expires"_s, 100.5}}));
    EXPECT_EQ(GoogleAuth::Tokens::fromJsonBytes(tokens.toJsonBytes()), tokens);

    const GoogleAuth::Tokens full{
        u"a"_s, u"r"_s, QDateTime(QDate(2031, 7, 9), QTime(8, 7, 6, 123), Qt::UTC), clientA};
    EXPECT_EQ(GoogleAuth::Tokens::fromJsonBytes(full.toJsonBytes()), full);

    // What an earlier version wrote: no client ID, a date before the reference.
    const auto legacy = GoogleAuth::Tokens::fromJsonBytes(
        R"({"accessToken":"x","refreshToken":"y","expires":-86400.25})");
    EXPECT_EQ(legacy.expires, QDateTime(QDate(2000, 12, 30), QTime(23, 59, 59, 750), Qt::UTC));
    EXPECT_EQ(legacy.clientID, std::nullopt);
}

TEST(GoogleAuthTokens, ItemsWithoutTheRequiredMembersAreRejected)
{
    for (const char *json :
         {R"({"expires":1})", R"({"accessToken":"x"})", R"({"accessToken":"x","expires":"soon"})",
          R"({"accessToken":"x","expires":1e300})", "not json", "[]"}) {
        EXPECT_THROW(GoogleAuth::Tokens::fromJsonBytes(json), DecodingError) << json;
    }
}

TEST_F(GoogleAuthState, NothingStoredRestoresUnconfigured)
{
    runSync(auth->restore());
    EXPECT_FALSE(auth->configured());
    EXPECT_FALSE(auth->connected());
    EXPECT_FALSE(auth->usesBundledConfiguration());
    EXPECT_EQ(failureOf(auth->login([](const QUrl &) {})), GoogleAuth::notConfiguredMessage());
    EXPECT_EQ(failureOf(auth->accessToken(false)), GoogleAuth::notConnectedMessage());
}

TEST_F(GoogleAuthState, StoredTokensOfTheActiveClientRestoreConnected)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    store(KeychainStore::tokensAccount(), storedTokens(clientA, clock.now().addSecs(3600)));
    QSignalSpy configuredSpy(auth.get(), &GoogleAuth::configuredChanged);
    QSignalSpy connectedSpy(auth.get(), &GoogleAuth::connectedChanged);
    runSync(auth->restore());
    EXPECT_TRUE(auth->configured());
    EXPECT_TRUE(auth->connected());
    EXPECT_FALSE(auth->usesBundledConfiguration());
    EXPECT_EQ(configuredSpy.count(), 1);
    EXPECT_EQ(connectedSpy.count(), 1);
    // Valid for an hour: handed out without asking Google (no endpoint is set up here).
    EXPECT_EQ(runSync(auth->accessToken(false)), u"stored-access"_s);
}

TEST_F(GoogleAuthState, TokensOfAnotherClientAreIgnoredButKept)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    const QByteArray tokens = storedTokens(clientB, clock.now().addSecs(3600));
    store(KeychainStore::tokensAccount(), tokens);
    runSync(auth->restore());
    EXPECT_TRUE(auth->configured());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(stored(KeychainStore::tokensAccount()), tokens);
}

TEST_F(GoogleAuthState, ShippedClientWinsAndLegacyTokensNeedAMatchingDeveloperClient)
{
    ship(clientJson(clientA));
    const QByteArray legacy = storedTokens(std::nullopt, clock.now().addSecs(3600));
    store(KeychainStore::tokensAccount(), legacy);

    // No developer configuration: tokens without a client ID cannot be vouched for.
    runSync(auth->restore());
    EXPECT_TRUE(auth->configured());
    EXPECT_TRUE(auth->usesBundledConfiguration());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(auth->configuration()->clientID, clientA);

    store(KeychainStore::configurationAccount(), storedConfiguration(clientB));
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_EQ(auth->configuration()->clientID, clientA);
    EXPECT_FALSE(auth->connected());

    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_TRUE(auth->connected());
}

TEST_F(GoogleAuthState, CorruptTokensFailRestoreButKeepTheConfigurationForANewSignIn)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    store(KeychainStore::tokensAccount(), "{\"accessToken\":");
    QSignalSpy configuredSpy(auth.get(), &GoogleAuth::configuredChanged);
    EXPECT_THROW(runSync(auth->restore()), DecodingError);
    EXPECT_TRUE(auth->configured());
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(configuredSpy.count(), 1);
    EXPECT_EQ(auth->configuration()->clientID, clientA);

    // Signing out deletes the damaged item; the next start is clean.
    runSync(auth->disconnect());
    EXPECT_FALSE(stored(KeychainStore::tokensAccount()).has_value());
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_TRUE(auth->configured());
}

TEST_F(GoogleAuthState, CorruptConfigurationOrABrokenShippedFileFailRestoreAndPublishNothing)
{
    store(KeychainStore::tokensAccount(), storedTokens(clientA, clock.now().addSecs(3600)));
    store(KeychainStore::configurationAccount(), "{\"clientSecret\":\"s\"}");
    auth = makeAuth();
    EXPECT_THROW(runSync(auth->restore()), DecodingError);
    EXPECT_FALSE(auth->configured());

    // A shipped file that is not valid fails even with a valid developer configuration.
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    ship("{not json");
    auth = makeAuth();
    EXPECT_THROW(runSync(auth->restore()), DecodingError);
    EXPECT_FALSE(auth->configured());
}

TEST_F(GoogleAuthState, ConfigureStoresTheDeveloperClientAndRenewsTheGeneration)
{
    runSync(auth->restore());
    const QUuid before = auth->generation();
    QSignalSpy configuredSpy(auth.get(), &GoogleAuth::configuredChanged);
    runSync(auth->configure(clientJson(clientB, u"s2"_s)));
    EXPECT_TRUE(auth->configured());
    EXPECT_EQ(configuredSpy.count(), 1);
    EXPECT_NE(auth->generation(), before);
    EXPECT_EQ(auth->configuration(), (OAuthConfiguration{clientB, u"s2"_s}));
    EXPECT_EQ(OAuthConfiguration::fromJsonBytes(*stored(KeychainStore::configurationAccount())),
              (OAuthConfiguration{clientB, u"s2"_s}));

    // A web client is refused and changes nothing.
    const QUuid configured = auth->generation();
    EXPECT_EQ(failureOf(auth->configure(R"({"web":{"client_id":"x"}})")),
              u"Hãy chọn file JSON của OAuth Client loại Desktop app trong Google Cloud."_s);
    EXPECT_EQ(auth->configuration()->clientID, clientB);
    EXPECT_EQ(auth->generation(), configured);
}

TEST_F(GoogleAuthState, ConfigureIsRefusedWithAShippedClientOrWhileConnected)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    store(KeychainStore::tokensAccount(), storedTokens(clientA, clock.now().addSecs(3600)));
    runSync(auth->restore());
    ASSERT_TRUE(auth->connected());
    // The file's own failure comes first.
    EXPECT_THROW(runSync(auth->configure("{broken")), DecodingError);
    EXPECT_EQ(failureOf(auth->configure(clientJson(clientB))),
              GoogleAuth::disconnectFirstMessage());
    EXPECT_EQ(OAuthConfiguration::fromJsonBytes(*stored(KeychainStore::configurationAccount())),
              (OAuthConfiguration{clientA, u"secret"_s}));

    ship(clientJson(clientA));
    auth = makeAuth();
    runSync(auth->restore());
    EXPECT_EQ(failureOf(auth->configure(clientJson(clientB))),
              GoogleAuth::bundledConfigurationMessage());
}

TEST_F(GoogleAuthState, DisconnectForgetsTheTokensAndKeepsTheConfiguration)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    store(KeychainStore::tokensAccount(), storedTokens(clientA, clock.now().addSecs(3600)));
    runSync(auth->restore());
    const QUuid before = auth->generation();
    QSignalSpy connectedSpy(auth.get(), &GoogleAuth::connectedChanged);
    runSync(auth->disconnect());
    EXPECT_FALSE(auth->connected());
    EXPECT_TRUE(auth->configured());
    EXPECT_EQ(connectedSpy.count(), 1);
    EXPECT_NE(auth->generation(), before);
    EXPECT_EQ(stored(KeychainStore::tokensAccount()), std::nullopt);
    EXPECT_TRUE(stored(KeychainStore::configurationAccount()));
    EXPECT_EQ(failureOf(auth->accessToken(false)), GoogleAuth::notConnectedMessage());
}

TEST_F(GoogleAuthState, TokenWithoutRefreshTokenNearExpiryAsksToSignInAgain)
{
    store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
    store(KeychainStore::tokensAccount(),
          GoogleAuth::Tokens{u"a"_s, std::nullopt, clock.now().addSecs(30), clientA}.toJsonBytes());
    runSync(auth->restore());
    ASSERT_TRUE(auth->connected());
    EXPECT_EQ(failureOf(auth->accessToken(false)), GoogleAuth::sessionExpiredMessage());
}

namespace {

// A configured GoogleAuth whose browser only records the URL it was asked to open.
class GoogleAuthLogin : public GoogleAuthState
{
protected:
    void SetUp() override
    {
        GoogleAuthState::SetUp();
        store(KeychainStore::configurationAccount(), storedConfiguration(clientA));
        runSync(auth->restore());
    }
    std::shared_ptr<Captured<void>> startLogin(std::stop_token stop = {})
    {
        auto outcome = start(auth->login([this](const QUrl &url) { opened = url; }, stop));
        EXPECT_TRUE(waitUntil([this] { return opened.isValid(); }));
        return outcome;
    }
    QString item(const QString &name) const { return QUrlQuery(opened).queryItemValue(name); }
    // Sends the browser back to the loopback with the given query.
    void redirect(const QByteArray &query)
    {
        RawClient browser(portOf(item(u"redirect_uri"_s)));
        browser.send("GET /oauth/callback?" + query + " HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(browser.waitClosed());
    }

    QUrl opened;
};

} // namespace

TEST_F(GoogleAuthLogin, BrowserGetsEveryParameterOnceAndNeverTheSecret)
{
    auto outcome = startLogin();
    const QUrlQuery query(opened);
    QStringList names;
    for (const auto &[name, value] : query.queryItems())
        names.append(name);
    names.sort();
    EXPECT_EQ(names, (QStringList{u"access_type"_s, u"client_id"_s, u"code_challenge"_s,
                                  u"code_challenge_method"_s, u"prompt"_s, u"redirect_uri"_s,
                                  u"response_type"_s, u"scope"_s, u"state"_s}));
    EXPECT_EQ(opened.adjusted(QUrl::RemoveQuery), Endpoints::current().authorization);
    EXPECT_EQ(item(u"client_id"_s), clientA);
    EXPECT_TRUE(QRegularExpression(u"^http://127\\.0\\.0\\.1:[0-9]+/oauth/callback$"_s)
                    .match(item(u"redirect_uri"_s))
                    .hasMatch());
    EXPECT_EQ(item(u"response_type"_s), u"code"_s);
    EXPECT_EQ(item(u"scope"_s), u"https://www.googleapis.com/auth/drive"_s);
    EXPECT_EQ(item(u"code_challenge_method"_s), u"S256"_s);
    EXPECT_EQ(item(u"access_type"_s), u"offline"_s);
    EXPECT_EQ(item(u"prompt"_s), u"consent"_s);
    const QRegularExpression base64url(u"^[A-Za-z0-9_-]{43}$"_s);
    EXPECT_TRUE(base64url.match(item(u"state"_s)).hasMatch());
    EXPECT_TRUE(base64url.match(item(u"code_challenge"_s)).hasMatch());
    EXPECT_FALSE(opened.toString().contains(u"secret"_s));
    EXPECT_TRUE(auth->loginPending());

    // A second attempt draws fresh random material.
    auth->cancelLogin();
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    const QString firstState = item(u"state"_s);
    const QString firstChallenge = item(u"code_challenge"_s);
    opened.clear();
    auto second = startLogin();
    EXPECT_NE(item(u"state"_s), firstState);
    EXPECT_NE(item(u"code_challenge"_s), firstChallenge);
    auth->cancelLogin();
    ASSERT_TRUE(waitUntil([&] { return second->done; }));
}

TEST_F(GoogleAuthLogin, CancelLoginFailsAsCancelledAndClosesThePort)
{
    auto outcome = startLogin();
    const quint16 port = portOf(item(u"redirect_uri"_s));
    auth->cancelLogin();
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->cancelled()) << outcome->errorText().toStdString();
    EXPECT_FALSE(auth->loginPending());
    EXPECT_FALSE(auth->connected());
    EXPECT_TRUE(RawClient(port).refused());
    auth->cancelLogin(); // nothing waits any more
}

TEST_F(GoogleAuthLogin, StoppingTheTaskEndsTheWaitingLogin)
{
    std::stop_source stop;
    auto outcome = startLogin(stop.get_token());
    const quint16 port = portOf(item(u"redirect_uri"_s));
    stop.request_stop();
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->cancelled());
    EXPECT_FALSE(auth->loginPending());
    EXPECT_TRUE(RawClient(port).refused());
}

// A redirect with a forged state (anyone on the machine can send one) is refused and the login
// goes on waiting; the redirect with its own state decides.
TEST_F(GoogleAuthLogin, RedirectWithAWrongStateIsRefusedAndAnErrorWithTheRightOneFailsTheLogin)
{
    auto outcome = startLogin();
    redirect("code=abc&state=forged");
    QCoreApplication::processEvents();
    EXPECT_FALSE(outcome->done);
    EXPECT_TRUE(auth->loginPending());

    redirect("error=access_denied&state=" + item(u"state"_s).toUtf8());
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->errorText().startsWith(u"Google đã chặn đăng nhập."_s));
    EXPECT_FALSE(auth->connected());
    EXPECT_EQ(stored(KeychainStore::tokensAccount()), std::nullopt);
}

TEST_F(GoogleAuthLogin, ASecondLoginEndsTheOneStillWaiting)
{
    auto first = startLogin();
    const quint16 firstPort = portOf(item(u"redirect_uri"_s));
    opened.clear();
    auto second = startLogin();
    ASSERT_TRUE(waitUntil([&] { return first->done; }));
    EXPECT_TRUE(first->cancelled());
    EXPECT_TRUE(RawClient(firstPort).refused());
    // The first login's ending leaves the second one cancellable.
    EXPECT_TRUE(auth->loginPending());
    auth->cancelLogin();
    ASSERT_TRUE(waitUntil([&] { return second->done; }));
    EXPECT_TRUE(second->cancelled());
}

TEST_F(GoogleAuthLogin, DestroyingTheOwnerEndsAWaitingLogin)
{
    auto outcome = startLogin();
    const quint16 port = portOf(item(u"redirect_uri"_s));
    auth.reset();
    ASSERT_TRUE(waitUntil([&] { return outcome->done; }));
    EXPECT_TRUE(outcome->cancelled());
    EXPECT_TRUE(RawClient(port).refused());
}
