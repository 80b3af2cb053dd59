// These cases lock the session's keyring, which every other keychain user shares: they run
// serially.
#include "auth/googleauth.h"
#include "auth/keychainstore.h"
#include "async/runsync.h"
#include "net/endpoints.h"
#include "net/tarnwicknetwork.h"
#include "signintesting.h"
#include "support/testsupport.h"

#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace Tarnwick;
using namespace Tarnwick::Testing;

// A locked keyring answers "not found" and deletes nothing: none of that may pass for an empty
// store, or a locked keyring would sign the user out.
TEST(LockedKeyring, StoreOperationsFailInsteadOfFindingNothing)
{
    const KeychainStore store = freshStore();
    runSync(store.save("kept", u"oauth-tokens"_s));
    {
        Keyring::LockedScope locked;
        ASSERT_TRUE(locked.ok) << "could not lock the test keyring";
        EXPECT_EQ(failureOf(store.read(u"oauth-tokens"_s)),
                  u"Không đọc được phiên đăng nhập từ kho mật khẩu (4)."_s);
        EXPECT_EQ(failureOf(store.remove(u"oauth-tokens"_s)),
                  u"Không xóa được phiên đăng nhập (4)."_s);
        const QString saveFailure = failureOf(store.save("other", u"oauth-tokens"_s));
        EXPECT_TRUE(saveFailure.startsWith(u"Không cập nhật được kho mật khẩu ("_s) ||
                    saveFailure.startsWith(u"Không lưu được phiên đăng nhập vào kho mật khẩu ("_s))
            << saveFailure.toStdString();
    }
    ASSERT_FALSE(Keyring::locked());
    EXPECT_EQ(runSync(store.read(u"oauth-tokens"_s)), QByteArray("kept"));
    runSync(store.remove(u"oauth-tokens"_s));
}

TEST(LockedKeyring, SignInKeepsItsSessionAndRestoreFails)
{
    const KeychainStore store = freshStore();
    const QString client = u"111-a.apps.googleusercontent.com"_s;
    runSync(store.save(OAuthConfiguration{client, u"s"_s}.toJsonBytes(),
                       KeychainStore::configurationAccount()));
    runSync(store.save(
        GoogleAuth::Tokens{u"a"_s, u"r"_s, QDateTime::currentDateTimeUtc().addSecs(3600), client}
            .toJsonBytes(),
        KeychainStore::tokensAccount()));
    GoogleAuth auth(TarnwickNetwork::session(), store);
    auth.setBundledConfigurationPath(u"/nonexistent/GoogleOAuth.json"_s);
    runSync(auth.restore());
    ASSERT_TRUE(auth.connected());
    {
        Keyring::LockedScope locked;
        ASSERT_TRUE(locked.ok);
        EXPECT_EQ(failureOf(auth.disconnect()), KeychainStore::removeFailure(4));
        // A restore against a locked keyring must not look like "signed out".
        GoogleAuth other(TarnwickNetwork::session(), store);
        other.setBundledConfigurationPath(u"/nonexistent/GoogleOAuth.json"_s);
        EXPECT_EQ(failureOf(other.restore()), KeychainStore::readFailure(4));
        EXPECT_FALSE(other.configured());
    }
    EXPECT_TRUE(auth.connected());
    EXPECT_TRUE(runSync(store.read(KeychainStore::tokensAccount())));
    runSync(store.remove(KeychainStore::tokensAccount()));
    runSync(store.remove(KeychainStore::configurationAccount()));
}

// Google has just issued tokens that a locked keyring will not take: the grant is revoked before
// the sign-in fails, so no live grant is left that the user can neither see nor sign out of.
TEST(LockedKeyring, TokensThatCannotBeStoredAtSignInAreRevoked)
{
    const KeychainStore store = freshStore();
    const QString client = u"111-a.apps.googleusercontent.com"_s;
    runSync(store.save(OAuthConfiguration{client, u"s"_s}.toJsonBytes(),
                       KeychainStore::configurationAccount()));
    FakeTokenEndpoint google;
    google.answer(200, R"({"access_token":"fresh-access","expires_in":3599,)"
                       R"("refresh_token":"fresh-refresh","token_type":"Bearer"})");
    Endpoints endpoints = Endpoints::defaults();
    endpoints.token = google.url();
    endpoints.revocation = google.url();
    Endpoints::setCurrent(endpoints);
    GoogleAuth auth(TarnwickNetwork::session(), store);
    auth.setBundledConfigurationPath(u"/nonexistent/GoogleOAuth.json"_s);
    runSync(auth.restore());
    ASSERT_TRUE(auth.configured());
    {
        Keyring::LockedScope locked;
        ASSERT_TRUE(locked.ok);
        QUrl opened;
        auto login = start(auth.login([&](const QUrl &url) { opened = url; }));
        ASSERT_TRUE(waitUntil([&] { return opened.isValid(); }));
        const QUrlQuery query(opened);
        RawClient browser(portOf(query.queryItemValue(u"redirect_uri"_s)));
        browser.send("GET /oauth/callback?code=c&state=" +
                     query.queryItemValue(u"state"_s).toUtf8() + " HTTP/1.1\r\n\r\n");
        ASSERT_TRUE(waitUntil([&] { return login->done; }));
        EXPECT_TRUE(login->errorText().contains(u"đã huỷ quyền Google vừa cấp"_s))
            << login->errorText().toStdString();
    }
    EXPECT_FALSE(auth.connected());
    ASSERT_EQ(google.bodies().size(), 2);
    EXPECT_TRUE(google.bodies().first().contains("grant_type=authorization_code"));
    EXPECT_EQ(google.bodies().last(), QByteArray("token=fresh-refresh"));
    EXPECT_FALSE(runSync(store.read(KeychainStore::tokensAccount())));
    Endpoints::setCurrent(Endpoints::defaults());
    runSync(store.remove(KeychainStore::configurationAccount()));
}
