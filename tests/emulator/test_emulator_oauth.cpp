// The OAuth 2.0 endpoints end to end: authorization with PKCE, code exchange, refresh, consent
// page.
#include "emulatorfixture.h"

#include <QCryptographicHash>
#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using namespace Tarnwick::Emulator;
using namespace Tarnwick::Emulator::Testing;

namespace {

const QString redirectUri = u"http://127.0.0.1:53682/oauth/callback"_s;
const QString verifier = u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s;
const QString driveScope = u"https://www.googleapis.com/auth/drive"_s;

QString challenge(const QString &v)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(v.toUtf8(), QCryptographicHash::Sha256)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

class OAuth : public EmulatorTest
{
protected:
    QList<QPair<QString, QString>> authParams() const
    {
        return {{u"client_id"_s, account.clientId},
                {u"redirect_uri"_s, redirectUri},
                {u"response_type"_s, u"code"_s},
                {u"scope"_s, driveScope},
                {u"code_challenge"_s, challenge(verifier)},
                {u"code_challenge_method"_s, u"S256"_s},
                {u"state"_s, u"st-8Qz"_s},
                {u"access_type"_s, u"offline"_s},
                {u"prompt"_s, u"consent"_s}};
    }

    static QString authTarget(const QList<QPair<QString, QString>> &params)
    {
        QStringList parts;
        for (const auto &[k, v] : params)
            parts.append(k + u'=' + enc(v));
        return u"/o/oauth2/v2/auth?"_s + parts.join(u'&');
    }

    // Follows the authorization like a browser with consent given at once; returns the redirect.
    QUrlQuery authorize(const QList<QPair<QString, QString>> &params)
    {
        auto r = get(authTarget(params), {});
        if (!r || r->status != 302)
            return {};
        const QUrl location(QString::fromStdString(r->get_header_value("Location")));
        EXPECT_EQ(location.adjusted(QUrl::RemoveQuery).toString(), redirectUri);
        return QUrlQuery(location);
    }

    httplib::Result tokenRequest(const QList<QPair<QString, QString>> &fields)
    {
        QStringList parts;
        for (const auto &[k, v] : fields)
            parts.append(k + u'=' + enc(v));
        return send("POST", u"/token"_s, {}, parts.join(u'&').toUtf8(),
                    "application/x-www-form-urlencoded");
    }

    QList<QPair<QString, QString>> exchange(const QString &code) const
    {
        return {{u"client_id"_s, account.clientId},
                {u"client_secret"_s, account.clientSecret},
                {u"code"_s, code},
                {u"code_verifier"_s, verifier},
                {u"redirect_uri"_s, redirectUri},
                {u"grant_type"_s, u"authorization_code"_s}};
    }

    static QList<QPair<QString, QString>> without(QList<QPair<QString, QString>> fields,
                                                  const QString &name)
    {
        fields.removeIf([&](const auto &p) { return p.first == name; });
        return fields;
    }

    static QList<QPair<QString, QString>> with(QList<QPair<QString, QString>> fields,
                                               const QString &name, const QString &value)
    {
        for (auto &p : fields)
            if (p.first == name)
                p.second = value;
        return fields;
    }

    static QString error(const httplib::Result &r) { return at(json(r), "error").toString(); }
};

} // namespace

TEST_F(OAuth, CodeExchangeAndRefreshEndToEnd)
{
    emu.reset();
    DriveEmulator::Options options;
    options.autoConsent = true;
    emu = std::make_unique<DriveEmulator>(options);
    emu->start();
    account = emu->addTestAccount();
    client = std::make_unique<httplib::Client>("127.0.0.1", emu->port());

    const QUrlQuery back = authorize(authParams());
    EXPECT_EQ(back.queryItemValue(u"state"_s), u"st-8Qz"_s);
    EXPECT_EQ(back.queryItemValue(u"scope"_s, QUrl::FullyDecoded), driveScope);
    const QString code = back.queryItemValue(u"code"_s, QUrl::FullyDecoded);
    ASSERT_FALSE(code.isEmpty());

    auto r = tokenRequest(exchange(code));
    ASSERT_EQ(r->status, 200) << r->body;
    const QJsonObject tokens = json(r);
    EXPECT_EQ(at(tokens, "expires_in").toInt(), 3599);
    EXPECT_EQ(at(tokens, "token_type").toString(), u"Bearer"_s);
    EXPECT_EQ(at(tokens, "scope").toString(), driveScope);
    const QString access = at(tokens, "access_token").toString();
    const QString refresh = at(tokens, "refresh_token").toString();
    ASSERT_FALSE(refresh.isEmpty()) << "offline access gives a refresh token";
    EXPECT_EQ(r->get_header_value("Cache-Control").rfind("no-cache", 0), 0u);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(access))->status, 200);

    // A code is good once.
    EXPECT_EQ(error(tokenRequest(exchange(code))), u"invalid_grant"_s);

    auto refreshed = tokenRequest({{u"client_id"_s, account.clientId},
                                   {u"client_secret"_s, account.clientSecret},
                                   {u"refresh_token"_s, refresh},
                                   {u"grant_type"_s, u"refresh_token"_s}});
    ASSERT_EQ(refreshed->status, 200);
    EXPECT_FALSE(json(refreshed).contains(u"refresh_token"_s))
        << "refresh keeps the old refresh token";
    const QString access2 = at(json(refreshed), "access_token").toString();
    EXPECT_NE(access2, access);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(access2))->status, 200);

    emu->revokeToken(refresh);
    auto dead = tokenRequest({{u"client_id"_s, account.clientId},
                              {u"client_secret"_s, account.clientSecret},
                              {u"refresh_token"_s, refresh},
                              {u"grant_type"_s, u"refresh_token"_s}});
    EXPECT_EQ(dead->status, 400);
    EXPECT_EQ(error(dead), u"invalid_grant"_s);
    EXPECT_EQ(at(json(dead), "error_description").toString(),
              u"Token has been expired or revoked."_s);
}

TEST_F(OAuth, TheTokenEndpointChecksEveryPart)
{
    emu = std::make_unique<DriveEmulator>(DriveEmulator::Options{0, {}, {}, {}, {}, true, false});
    emu->start();
    account = emu->addTestAccount();
    client = std::make_unique<httplib::Client>("127.0.0.1", emu->port());
    auto freshCode = [&] {
        return authorize(authParams()).queryItemValue(u"code"_s, QUrl::FullyDecoded);
    };

    auto mismatch = tokenRequest(
        with(exchange(freshCode()), u"code_verifier"_s, QString(verifier).replace(0, 1, u'X')));
    EXPECT_EQ(error(mismatch), u"invalid_grant"_s) << "PKCE verifier does not match the challenge";
    auto noVerifier = tokenRequest(without(exchange(freshCode()), u"code_verifier"_s));
    EXPECT_EQ(at(json(noVerifier), "error_description").toString(), u"Missing code verifier."_s);
    auto otherRedirect = tokenRequest(
        with(exchange(freshCode()), u"redirect_uri"_s, u"http://127.0.0.1:1/oauth/callback"_s));
    EXPECT_EQ(error(otherRedirect), u"redirect_uri_mismatch"_s);
    auto noSecret = tokenRequest(without(exchange(freshCode()), u"client_secret"_s));
    EXPECT_EQ(noSecret->status, 400);
    EXPECT_EQ(error(noSecret), u"invalid_request"_s);
    EXPECT_EQ(at(json(noSecret), "error_description").toString(), u"client_secret is missing."_s);
    auto wrongSecret = tokenRequest(with(exchange(freshCode()), u"client_secret"_s, u"nope"_s));
    EXPECT_EQ(wrongSecret->status, 401);
    EXPECT_EQ(error(wrongSecret), u"invalid_client"_s);
    EXPECT_EQ(error(tokenRequest(
                  with(exchange(freshCode()), u"client_id"_s, u"x.apps.googleusercontent.com"_s))),
              u"invalid_client"_s);
    EXPECT_EQ(error(tokenRequest(with(exchange(freshCode()), u"grant_type"_s, u"password"_s))),
              u"unsupported_grant_type"_s);
    auto garbage = tokenRequest(with(exchange(freshCode()), u"code"_s, u"not-a-code"_s));
    EXPECT_EQ(at(json(garbage), "error_description").toString(), u"Malformed auth code."_s);

    const QString code = freshCode();
    emu->advanceClock(std::chrono::minutes(11));
    EXPECT_EQ(error(tokenRequest(exchange(code))), u"invalid_grant"_s) << "codes expire";

    auto form = send("POST", u"/token"_s, {},
                     QJsonDocument(QJsonObject{{u"grant_type"_s, u"refresh_token"_s}}).toJson(),
                     "application/json");
    EXPECT_EQ(error(form), u"invalid_request"_s) << "the body is a form";

    emu->setAccessTokenLifetime(std::chrono::seconds(120));
    auto shortLived = tokenRequest(exchange(freshCode()));
    EXPECT_EQ(at(json(shortLived), "expires_in").toInt(), 119);
    emu->advanceClock(std::chrono::seconds(121));
    EXPECT_EQ(
        get(u"/drive/v3/about?fields=user"_s, auth(at(json(shortLived), "access_token").toString()))
            ->status,
        401);
}

TEST_F(OAuth, TheAuthorizationEndpointChecksItsParameters)
{
    auto unknownClient = get(
        authTarget(with(authParams(), u"client_id"_s, u"nobody.apps.googleusercontent.com"_s)), {});
    EXPECT_EQ(unknownClient->status, 401) << "an error page, no redirect";
    EXPECT_FALSE(unknownClient->has_header("Location"));
    EXPECT_EQ(
        get(authTarget(with(authParams(), u"redirect_uri"_s, u"https://evil.example/cb"_s)), {})
            ->status,
        400);
    EXPECT_EQ(get(authTarget(with(authParams(), u"redirect_uri"_s, u"http://127.0.0.1/cb"_s)), {})
                  ->status,
              400)
        << "a loopback redirect names its port";
    auto twice = authParams();
    twice.append({u"state"_s, u"again"_s});
    EXPECT_EQ(get(authTarget(twice), {})->status, 400);
    EXPECT_EQ(get(authTarget(with(authParams(), u"access_type"_s, u"forever"_s)), {})->status, 400);
    EXPECT_EQ(get(authTarget(without(authParams(), u"scope"_s)), {})->status, 400);

    // Once client and redirect are trusted, errors go back to the app with the state.
    auto redirected = [&](const QList<QPair<QString, QString>> &params) {
        auto r = get(authTarget(params), {});
        EXPECT_EQ(r->status, 302);
        return QUrlQuery(QUrl(QString::fromStdString(r->get_header_value("Location"))));
    };
    const QUrlQuery badScope =
        redirected(with(authParams(), u"scope"_s, u"https://www.googleapis.com/auth/everything"_s));
    EXPECT_EQ(badScope.queryItemValue(u"error"_s), u"invalid_scope"_s);
    EXPECT_EQ(badScope.queryItemValue(u"state"_s), u"st-8Qz"_s);
    EXPECT_EQ(redirected(without(authParams(), u"code_challenge"_s)).queryItemValue(u"error"_s),
              u"invalid_request"_s);
    EXPECT_EQ(redirected(with(authParams(), u"code_challenge_method"_s, u"S512"_s))
                  .queryItemValue(u"error"_s),
              u"invalid_request"_s);
    EXPECT_EQ(
        redirected(with(authParams(), u"response_type"_s, u"token"_s)).queryItemValue(u"error"_s),
        u"unsupported_response_type"_s);
}

TEST_F(OAuth, TheConsentPageHasAllowAndDeny)
{
    auto page = get(authTarget(authParams()), {});
    ASSERT_EQ(page->status, 200);
    const QString html = QString::fromStdString(page->body);
    EXPECT_TRUE(html.contains(u"value=allow"_s));
    EXPECT_TRUE(html.contains(u"value=deny"_s));
    EXPECT_TRUE(html.contains(account.email));
    const QString consent = html.section(u"name=consent value='"_s, 1).section(u'\'', 0, 0);
    ASSERT_FALSE(consent.isEmpty());

    auto decide = [&](const QString &id, const QString &decision) {
        return send(
            "POST", u"/o/oauth2/v2/auth/approval"_s, {},
            (u"consent="_s + id + u"&decision="_s + decision + u"&user="_s + enc(account.email))
                .toUtf8(),
            "application/x-www-form-urlencoded");
    };
    auto denied = decide(consent, u"deny"_s);
    ASSERT_EQ(denied->status, 302);
    const QUrlQuery d(QUrl(QString::fromStdString(denied->get_header_value("Location"))));
    EXPECT_EQ(d.queryItemValue(u"error"_s), u"access_denied"_s);
    EXPECT_EQ(d.queryItemValue(u"state"_s), u"st-8Qz"_s);
    EXPECT_EQ(decide(consent, u"allow"_s)->status, 400) << "a consent is answered once";

    const QString second = QString::fromStdString(get(authTarget(authParams()), {})->body)
                               .section(u"name=consent value='"_s, 1)
                               .section(u'\'', 0, 0);
    const QUrlQuery allowed(
        QUrl(QString::fromStdString(decide(second, u"allow"_s)->get_header_value("Location"))));
    EXPECT_FALSE(allowed.queryItemValue(u"code"_s).isEmpty());
    EXPECT_EQ(tokenRequest(exchange(allowed.queryItemValue(u"code"_s, QUrl::FullyDecoded)))->status,
              200);

    // An app in testing admits only its test users.
    emu->addOAuthClient(u"testing.apps.googleusercontent.com"_s, u"s"_s, true,
                        {u"someone@example.com"_s});
    const QString third =
        QString::fromStdString(get(authTarget(with(authParams(), u"client_id"_s,
                                                   u"testing.apps.googleusercontent.com"_s)),
                                   {})
                                   ->body)
            .section(u"name=consent value='"_s, 1)
            .section(u'\'', 0, 0);
    const QUrlQuery blocked(
        QUrl(QString::fromStdString(decide(third, u"allow"_s)->get_header_value("Location"))));
    EXPECT_EQ(blocked.queryItemValue(u"error"_s), u"access_denied"_s);
}

TEST_F(OAuth, RefreshTokensOfTestingAppsDieAfterAWeek)
{
    emu->addOAuthClient(u"beta.apps.googleusercontent.com"_s, u"beta-secret"_s, true);
    const QString refresh =
        emu->issueRefreshToken(account.email, u"beta.apps.googleusercontent.com"_s);
    auto request = [&] {
        return tokenRequest({{u"client_id"_s, u"beta.apps.googleusercontent.com"_s},
                             {u"client_secret"_s, u"beta-secret"_s},
                             {u"refresh_token"_s, refresh},
                             {u"grant_type"_s, u"refresh_token"_s}});
    };
    EXPECT_EQ(request()->status, 200);
    auto otherClient = tokenRequest({{u"client_id"_s, account.clientId},
                                     {u"client_secret"_s, account.clientSecret},
                                     {u"refresh_token"_s, refresh},
                                     {u"grant_type"_s, u"refresh_token"_s}});
    EXPECT_EQ(error(otherClient), u"unauthorized_client"_s);
    emu->advanceClock(std::chrono::hours(24 * 7 + 1));
    EXPECT_EQ(error(request()), u"invalid_grant"_s);
}

TEST_F(OAuth, RevokedTokensStopWorking)
{
    auto revoked = send("POST", u"/revoke"_s, {}, (u"token="_s + enc(account.accessToken)).toUtf8(),
                        "application/x-www-form-urlencoded");
    EXPECT_EQ(revoked->status, 200);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s)->status, 401);
    auto again = send("POST", u"/revoke?token="_s + enc(account.accessToken), {});
    EXPECT_EQ(again->status, 400);
    EXPECT_EQ(error(again), u"invalid_token"_s);
}

TEST_F(OAuth, RevokingARefreshTokenEndsTheWholeGrantOnly)
{
    const QString otherAccess = emu->issueAccessToken(account.email);
    emu->addOAuthClient(u"other.apps.googleusercontent.com"_s, u"other-secret"_s);
    const QString otherClientRefresh =
        emu->issueRefreshToken(account.email, u"other.apps.googleusercontent.com"_s);

    auto revoked =
        send("POST", u"/revoke"_s, {}, (u"token="_s + enc(account.refreshToken)).toUtf8(),
             "application/x-www-form-urlencoded");
    EXPECT_EQ(revoked->status, 200);
    auto refresh = [&](const QString &clientId, const QString &secret, const QString &token) {
        return tokenRequest({{u"client_id"_s, clientId},
                             {u"client_secret"_s, secret},
                             {u"refresh_token"_s, token},
                             {u"grant_type"_s, u"refresh_token"_s}});
    };
    EXPECT_EQ(error(refresh(account.clientId, account.clientSecret, account.refreshToken)),
              u"invalid_grant"_s);
    // The access token the same client holds dies with the grant.
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(account.accessToken))->status, 401);
    // Another client's grant and a token issued outside any client stay.
    EXPECT_EQ(refresh(u"other.apps.googleusercontent.com"_s, u"other-secret"_s, otherClientRefresh)
                  ->status,
              200);
    EXPECT_EQ(get(u"/drive/v3/about?fields=user"_s, auth(otherAccess))->status, 200);

    auto unknown = send("POST", u"/revoke"_s, {}, "token=nothing-like-it",
                        "application/x-www-form-urlencoded");
    EXPECT_EQ(unknown->status, 400);
    EXPECT_EQ(error(unknown), u"invalid_token"_s);
}
