#include "drive/decodingerror.h"
#include "records/errors.h"
#include "auth/oauthconfiguration.h"
#include "auth/oauthutilities.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

using namespace Tarnwick;
using namespace Qt::StringLiterals;

namespace {

const QString notDesktop =
    u"Hãy chọn file JSON của OAuth Client loại Desktop app trong Google Cloud."_s;
const QString stateMismatch = u"Phiên đăng nhập không khớp. Hãy kết nối lại."_s;
const QString noCode = u"Google chưa trả về mã đăng nhập."_s;
const QString accessDenied =
    u"Google đã chặn đăng nhập. Nếu anh không tự bấm Hủy, nghĩa là Gmail này chưa nằm trong danh sách Test users của Tarnwick, hoặc ứng dụng chưa qua xác minh của Google."_s;

template<class F> QString messageOf(F &&f)
{
    try {
        f();
    } catch (const TarnwickError &e) {
        return e.message();
    }
    return u"(nothing thrown)"_s;
}

QString codeFrom(const QString &query, const QString &state = u"s1"_s)
{
    return OAuthUtilities::authorizationCode(
        QUrl(u"http://127.0.0.1:4321/oauth/callback"_s + query), state);
}

QString failureOf(const QString &query, const QString &state = u"s1"_s)
{
    return messageOf([&] { codeFrom(query, state); });
}

} // namespace

TEST(OAuthConfiguration, readsTheDesktopClientOfAGoogleClientFile)
{
    const auto withoutSecret = OAuthConfiguration::fromGoogleJSON(
        R"({"installed":{"client_id":"123-abc.apps.googleusercontent.com","project_id":"p"}})");
    EXPECT_EQ(withoutSecret, (OAuthConfiguration{u"123-abc.apps.googleusercontent.com"_s, {}}));

    const auto withSecret = OAuthConfiguration::fromGoogleJSON(
        R"({"installed":{"client_id":"1.apps.googleusercontent.com","client_secret":"sh"}})");
    EXPECT_EQ(withSecret.clientSecret, u"sh"_s);
}

TEST(OAuthConfiguration, rejectsOtherClientsAndForeignIDs)
{
    for (const QByteArray &json :
         {QByteArray(R"({"web":{"client_id":"1.apps.googleusercontent.com"}})"),
          QByteArray(R"({"installed":{"client_id":"1.APPS.googleusercontent.com"}})"),
          QByteArray(R"({"installed":{"client_id":"1.apps.googleusercontent.com.evil"}})"),
          QByteArray(R"({"installed":{"client_id":"appsXgoogleusercontent.com"}})"),
          QByteArray(R"({"installed":null})"), QByteArray("{}")}) {
        SCOPED_TRACE(json.toStdString());
        EXPECT_EQ(messageOf([&] { OAuthConfiguration::fromGoogleJSON(json); }), notDesktop);
    }
    for (const QByteArray &json :
         {QByteArray("not json"), QByteArray("[]"), QByteArray(R"({"installed":{}})"),
          QByteArray(R"({"installed":"x"})"),
          QByteArray(
              R"({"installed":{"client_id":"1.apps.googleusercontent.com","client_secret":1}})")}) {
        SCOPED_TRACE(json.toStdString());
        EXPECT_THROW(OAuthConfiguration::fromGoogleJSON(json), DecodingError);
    }
}

TEST(OAuthConfiguration, resolvePrefersTheShippedClientAndNeverFallsBackFromIt)
{
    const OAuthConfiguration developer{u"dev.apps.googleusercontent.com"_s, u"s"_s};
    const QByteArray shipped = R"({"installed":{"client_id":"ship.apps.googleusercontent.com"}})";
    EXPECT_EQ(OAuthConfiguration::resolve(shipped, developer)->clientID,
              u"ship.apps.googleusercontent.com"_s);
    EXPECT_EQ(OAuthConfiguration::resolve(std::nullopt, developer), developer);
    EXPECT_EQ(OAuthConfiguration::resolve(std::nullopt, std::nullopt), std::nullopt);
    EXPECT_THROW(OAuthConfiguration::resolve(QByteArray("{broken"), developer), DecodingError);
    EXPECT_EQ(messageOf([&] { OAuthConfiguration::resolve(QByteArray("{}"), developer); }),
              notDesktop);
}

TEST(OAuthConfiguration, acceptsSessionByRecordedOrLegacyClientID)
{
    const OAuthConfiguration current{u"a.apps.googleusercontent.com"_s, {}};
    const OAuthConfiguration same{u"a.apps.googleusercontent.com"_s, u"other secret"_s};
    const OAuthConfiguration other{u"b.apps.googleusercontent.com"_s, {}};
    EXPECT_TRUE(current.acceptsSession(u"a.apps.googleusercontent.com"_s, std::nullopt));
    EXPECT_FALSE(current.acceptsSession(u"A.apps.googleusercontent.com"_s, same));
    EXPECT_FALSE(current.acceptsSession(u"b.apps.googleusercontent.com"_s, same));
    EXPECT_FALSE(current.acceptsSession(std::nullopt, std::nullopt));
    EXPECT_TRUE(current.acceptsSession(std::nullopt, same));
    EXPECT_FALSE(current.acceptsSession(std::nullopt, other));
}

TEST(OAuthConfiguration, storedFormOmitsAnAbsentSecret)
{
    const OAuthConfiguration bare{u"a"_s, {}};
    EXPECT_EQ(bare.toJsonBytes(), QByteArray(R"({"clientID":"a"})"));
    EXPECT_EQ(OAuthConfiguration::fromJsonBytes(bare.toJsonBytes()), bare);
    const OAuthConfiguration full{u"a"_s, u"b"_s};
    EXPECT_EQ(OAuthConfiguration::fromJsonBytes(full.toJsonBytes()), full);
    EXPECT_THROW(OAuthConfiguration::fromJsonBytes(R"({"clientSecret":"b"})"), DecodingError);
}

TEST(OAuthForm, sortsKeysAndEscapesEverythingButUnicodeAlphanumerics)
{
    using OAuthUtilities::form;
    EXPECT_EQ(form({{u"b"_s, u"x y"_s}, {u"a"_s, u"1/2"_s}}), QByteArray("a=1%2F2&b=x%20y"));
    EXPECT_EQ(form({}), QByteArray());
    EXPECT_EQ(form({{u"k"_s, u"&=+/:?#%"_s}}), QByteArray("k=%26%3D%2B%2F%3A%3F%23%25"));
    EXPECT_EQ(form({{u"k"_s, u"-._~AZaz09"_s}}), QByteArray("k=-._~AZaz09"));
    EXPECT_EQ(form({{u"k"_s, u"é"_s}}), QByteArray("k=\xC3\xA9"));
    // A combining mark and non-Latin digits are alphanumeric; a symbol outside the BMP is not.
    EXPECT_EQ(form({{u"k"_s, u"e\u0301\u0663"_s}}), QByteArray("k=e\xCC\x81\xD9\xA3"));
    EXPECT_EQ(form({{u"k"_s, u"😀"_s}}), QByteArray("k=%F0%9F%98%80"));
    EXPECT_EQ(form({{u"k"_s, u"a\nb"_s}}), QByteArray("k=a%0Ab"));
    EXPECT_EQ(form({{u"code_verifier"_s, u"v"_s}, {u"code"_s, u"4/0A"_s}, {u"Z"_s, u""_s}}),
              QByteArray("Z=&code=4%2F0A&code_verifier=v"));
}

TEST(OAuthPkce, base64URLAndTheRfcChallenge)
{
    QByteArray bytes;
    for (int i = 0; i < 32; ++i)
        bytes.append(char(0xF8 + (i % 8)));
    const QString encoded = OAuthUtilities::base64URL(bytes);
    EXPECT_EQ(encoded.size(), 43);
    EXPECT_FALSE(encoded.contains(u'+') || encoded.contains(u'/') || encoded.contains(u'='));
    EXPECT_EQ(OAuthUtilities::base64URL(QByteArray("\xFB\xFF", 2)), u"-_8"_s);
    EXPECT_EQ(OAuthUtilities::base64URL({}), QString());
    EXPECT_EQ(OAuthUtilities::challenge(u"dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"_s),
              u"E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM"_s);
}

TEST(AuthorizationCode, returnsTheDecodedCodeWhenTheStateMatches)
{
    EXPECT_EQ(codeFrom(u"?state=s1&code=4%2F0Ab+c&scope=x"_s), u"4/0Ab+c"_s);
    EXPECT_EQ(codeFrom(u"?code=first&state=s1&code=second"_s), u"first"_s);
    EXPECT_EQ(codeFrom(u"?state=a%26b&code=c"_s, u"a&b"_s), u"c"_s);
}

TEST(AuthorizationCode, theStateIsCheckedBeforeAnythingElse)
{
    EXPECT_EQ(failureOf(u""_s), stateMismatch);
    EXPECT_EQ(failureOf(u"?code=c"_s), stateMismatch);
    EXPECT_EQ(failureOf(u"?state=s1&state=s1&code=c"_s), stateMismatch);
    EXPECT_EQ(failureOf(u"?state=s2&code=c"_s), stateMismatch);
    EXPECT_EQ(failureOf(u"?state=S1&code=c"_s), stateMismatch);
    EXPECT_EQ(failureOf(u"?state=s2&error=access_denied"_s), stateMismatch);
    // An item without "=" has no value, which differs from an empty one.
    EXPECT_EQ(failureOf(u"?state&code=c"_s, u""_s), stateMismatch);
    EXPECT_EQ(codeFrom(u"?state=&code=c"_s, u""_s), u"c"_s);
}

TEST(AuthorizationCode, errorRedirectsUseTheMessageTable)
{
    EXPECT_EQ(failureOf(u"?state=s1&error=access_denied&code=c"_s), accessDenied);
    EXPECT_EQ(failureOf(u"?error=access_denied&error_description=x&state=s1"_s),
              accessDenied + u" Google báo: x"_s);
    EXPECT_EQ(failureOf(u"?state=s1&error=access_denied&error_description=L%E1%BB%97i+a%20b"_s),
              accessDenied + u" Google báo: Lỗi+a b"_s);
    EXPECT_EQ(failureOf(u"?state=s1&error=access_denied&error_description"_s), accessDenied);
    EXPECT_EQ(failureOf(u"?state=s1&error=access_denied&error_description="_s), accessDenied);
    EXPECT_EQ(failureOf(u"?state=s1&error"_s),
              u"Google từ chối đăng nhập nhưng không nêu lý do."_s);
    EXPECT_EQ(failureOf(u"?state=s1&error=temporarily_unavailable&error=access_denied"_s),
              u"Google từ chối đăng nhập (temporarily_unavailable)."_s);
}

TEST(AuthorizationCode, aMissingOrEmptyCodeFails)
{
    EXPECT_EQ(failureOf(u"?state=s1"_s), noCode);
    EXPECT_EQ(failureOf(u"?state=s1&code="_s), noCode);
    EXPECT_EQ(failureOf(u"?state=s1&code"_s), noCode);
    EXPECT_EQ(failureOf(u"?state=s1&code=&code=later"_s), noCode);
}

TEST(OAuthMessages, authorizationFailureTable)
{
    using OAuthUtilities::authorizationFailure;
    EXPECT_EQ(authorizationFailure(u"access_denied"_s, std::nullopt), accessDenied);
    for (const QString &code :
         {u"redirect_uri_mismatch"_s, u"invalid_client"_s, u"invalid_scope"_s}) {
        EXPECT_EQ(authorizationFailure(code, std::nullopt),
                  u"Cấu hình OAuth client của Tarnwick chưa đúng ("_s + code +
                      u"). Đây là lỗi phía nhà phát triển, không phải do tài khoản của anh."_s);
    }
    EXPECT_EQ(authorizationFailure(u""_s, u"d"_s),
              u"Google từ chối đăng nhập nhưng không nêu lý do. Google báo: d"_s);
    EXPECT_EQ(authorizationFailure(u"temporarily_unavailable"_s, std::nullopt),
              u"Google từ chối đăng nhập (temporarily_unavailable)."_s);
    EXPECT_EQ(authorizationFailure(u"Access_Denied"_s, u""_s),
              u"Google từ chối đăng nhập (Access_Denied)."_s);
}

TEST(OAuthMessages, tokenFailureTable)
{
    using OAuthUtilities::tokenFailure;
    EXPECT_EQ(
        tokenFailure(u"invalid_grant"_s, u"Token has been expired or revoked."_s),
        u"Google đã thu hồi phiên đăng nhập. Khi Tarnwick còn ở giai đoạn Testing, Google chỉ giữ phiên 7 ngày rồi buộc đăng nhập lại. Hãy ngắt kết nối rồi đăng nhập lại. Google báo: Token has been expired or revoked."_s);
    for (const QString &code : {u"invalid_client"_s, u"unauthorized_client"_s}) {
        EXPECT_EQ(
            tokenFailure(code, std::nullopt),
            u"Google không chấp nhận OAuth client của Tarnwick. Đây là lỗi cấu hình phía nhà phát triển."_s);
    }
    EXPECT_EQ(tokenFailure(u""_s, u""_s),
              u"Google chưa chấp nhận đăng nhập. Hãy kiểm tra kết nối mạng rồi thử lại."_s);
    EXPECT_EQ(tokenFailure(u"slow_down"_s, std::nullopt),
              u"Google chưa chấp nhận đăng nhập (slow_down)."_s);
}
