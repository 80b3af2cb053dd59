#include "drivetesting.h"

#include "async/clock.h"
#include "records/errors.h"


#include <stop_token>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using namespace Tarnwick;
using namespace Tarnwick::Emulator;

namespace {

class DriveRequests : public Testing::DriveClientTest
{
protected:
    QString folder = emulator.createFolder(account.email, u"Hồ sơ"_s);
};

TEST_F(DriveRequests, ExpiredTokenIsRefreshedOnceAndTheCallerSeesOnlyTheSecondAnswer)
{
    const QString fresh = emulator.issueAccessToken(account.email);
    emulator.expireAccessToken(account.accessToken);
    tokenFor = [&](bool force) { return force ? fresh : account.accessToken; };

    const DriveFile file = run(client.file(folder));

    EXPECT_EQ(file.id, folder);
    EXPECT_EQ(file.name, u"Hồ sơ"_s);
    EXPECT_EQ(tokenRequests, QList<bool>({false, true}));
    const auto log = requests();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[0].status, 401);
    EXPECT_EQ(log[0].tokenFingerprint, DriveEmulator::tokenFingerprint(account.accessToken));
    EXPECT_EQ(log[1].status, 200);
    EXPECT_EQ(log[1].tokenFingerprint, DriveEmulator::tokenFingerprint(fresh));
    EXPECT_EQ(log[1].method, log[0].method);
    EXPECT_EQ(log[1].target, log[0].target);
}

TEST_F(DriveRequests, SecondRejectedTokenIsASessionExpiredErrorWithoutAThirdTry)
{
    emulator.expireAccessToken(account.accessToken);

    const DriveAPIError error = failure<DriveAPIError>(client.file(folder));

    EXPECT_EQ(error.status(), 401);
    EXPECT_EQ(error.message(), u"Phiên Google đã hết hạn. Hãy kết nối lại."_s);
    EXPECT_EQ(error.description(), error.message());
    EXPECT_FALSE(error.retryable());
    EXPECT_EQ(tokenRequests, QList<bool>({false, true}));
    EXPECT_EQ(requests().size(), 2);
}

TEST_F(DriveRequests, TokenSourceFailurePassesThroughAndNothingIsSent)
{
    tokenFor = [](bool) -> QString { throw TarnwickError(u"Chưa kết nối Google Drive."_s); };

    const TarnwickError error = failure<TarnwickError>(client.account());

    EXPECT_EQ(error.message(), u"Chưa kết nối Google Drive."_s);
    EXPECT_TRUE(requests().isEmpty());
}

struct ErrorCase
{
    const char *name;
    FaultRule rule;
    QString message;
    bool retryable;
    QString detail = {};
};

FaultRule withBody(int status, const QByteArray &body)
{
    FaultRule rule = FaultRule::respond(status);
    rule.body = body;
    return rule;
}

// The message is Vietnamese whatever Google wrote; Google's text is kept only as the detail.
TEST_F(DriveRequests, ErrorAnswersBecomeTheUsersMessageAndRetryableFlag)
{
    const QString noRights =
        u"Không có quyền thực hiện thao tác này. Kiểm tra quyền thư mục và Google Drive API."_s;
    const QString rateLimited = u"Google đang giới hạn lượt truy cập. Hãy thử lại sau."_s;
    const QString busy = u"Google đang bận. Hãy thử lại sau."_s;
    const QString gone = u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s;
    const QString conflict =
        u"Mục này vừa thay đổi hoặc đã có trên Google Drive. Hãy làm mới rồi thử lại."_s;
    const QList<ErrorCase> cases{
        {"403 per-user rate limit",
         FaultRule::respondError(403, u"userRateLimitExceeded"_s, u"User rate limit exceeded."_s),
         rateLimited, true, u"User rate limit exceeded."_s},
        {"403 rate limit",
         FaultRule::respondError(403, u"rateLimitExceeded"_s, u"Rate limit exceeded."_s),
         rateLimited, true, u"Rate limit exceeded."_s},
        {"403 other reason",
         FaultRule::respondError(403, u"insufficientFilePermissions"_s,
                                 u"The user does not have sufficient permissions for this file."_s),
         noRights, false, u"The user does not have sufficient permissions for this file."_s},
        {"403 HTML", FaultRule::respondHtml(403), noRights, false},
        {"403 rate limit in a later entry",
         withBody(403, R"({"error":{"errors":[{"domain":"global"},)"
                       R"({"reason":"userRateLimitExceeded"}]}})"),
         rateLimited, true},
        {"429 with its own message",
         FaultRule::respondError(429, u"rateLimitExceeded"_s, u"Too Many Requests"_s), busy, true,
         u"Too Many Requests"_s},
        {"429 HTML", FaultRule::respondHtml(429), busy, true},
        {"404", FaultRule::respondError(404, u"notFound"_s, u"File not found: x."_s), gone, false,
         u"File not found: x."_s},
        {"410", FaultRule::respondError(410, u"gone"_s, u"Gone"_s), gone, false, u"Gone"_s},
        {"404 with a rate-limit reason",
         FaultRule::respondError(404, u"rateLimitExceeded"_s, u"Rate limit exceeded."_s), gone,
         true, u"Rate limit exceeded."_s},
        {"503 HTML", FaultRule::respondHtml(503), u"Không kết nối được Google Drive (503)."_s,
         true},
        {"403 storage full",
         FaultRule::respondError(403, u"storageQuotaExceeded"_s,
                                 u"The user's Drive storage quota has been exceeded."_s),
         u"Google Drive đã hết dung lượng lưu trữ."_s, false,
         u"The user's Drive storage quota has been exceeded."_s},
        {"403 daily upload cap",
         FaultRule::respondError(403, u"dailyLimitExceeded"_s, u"Daily Limit Exceeded"_s),
         u"Tài khoản Google đã tải lên hết lượng cho phép trong ngày."_s, false,
         u"Daily Limit Exceeded"_s},
        {"500 with a message",
         withBody(500, R"({"error":{"code":500,"message":"Internal Error"}})"),
         u"Không kết nối được Google Drive (500)."_s, true, u"Internal Error"_s},
        {"400 with a message", FaultRule::respondError(400, u"invalid"_s, u"Invalid Value"_s),
         u"Google Drive không nhận yêu cầu này (400)."_s, false, u"Invalid Value"_s},
        {"409 with Google's message",
         FaultRule::respondError(409, u"duplicate"_s,
                                 u"A file already exists with the provided ID."_s),
         conflict, false, u"A file already exists with the provided ID."_s},
        {"409 with an empty message", withBody(409, R"({"error":{"message":""}})"), conflict,
         false},
        {"400 OAuth-style error", withBody(400, R"({"error":"invalid_grant"})"),
         u"Google Drive không nhận yêu cầu này (400)."_s, false},
        {"502 JSON without an object", withBody(502, "[1,2]"),
         u"Không kết nối được Google Drive (502)."_s, true},
    };
    for (const ErrorCase &c : cases) {
        SCOPED_TRACE(c.name);
        emulator.clearFaults();
        clearRequests();
        emulator.addFault(c.rule);
        const DriveAPIError error = failure<DriveAPIError>(client.file(folder));
        EXPECT_EQ(error.status(), c.rule.status);
        EXPECT_EQ(error.message(), c.message);
        EXPECT_EQ(error.retryable(), c.retryable);
        EXPECT_EQ(error.detail(), c.detail);
        EXPECT_EQ(requests().size(), 1); // only a 401 is retried here
    }
}

// What a refusal means for the engine: a rate limit passes with time, a full Drive and the daily
// cap stop writes; Retry-After in seconds or as a date, and never more than the ceiling.
TEST_F(DriveRequests, GooglesLimitsAreToldApartAndRetryAfterIsRead)
{
    using Limit = DriveAPIError::Limit;
    using std::chrono::milliseconds;
    const QByteArray userRate = R"({"error":{"code":403,"errors":[{"domain":"usageLimits",)"
                                R"("reason":"userRateLimitExceeded"}]}})";
    const QByteArray full = R"({"error":{"errors":[{"reason":"storageQuotaExceeded"}]}})";
    const QByteArray daily = R"({"error":{"errors":[{"reason":"dailyLimitExceeded"}]}})";
    const QByteArray inHalfAMinute =
        Clock::current().now().addSecs(30).toUTC().toString(Qt::RFC2822Date).toLatin1();
    struct Case
    {
        const char *name;
        int status;
        QByteArray body;
        QByteArray retryAfter;
        Limit limit;
        std::optional<milliseconds> shortest, longest;
    };
    const QList<Case> cases{
        {"403 user rate, seconds", 403, userRate, "7", Limit::Rate, 7000ms, 7000ms},
        {"429 page, none", 429, "<html></html>", {}, Limit::Rate, {}, {}},
        {"429, a date", 429, {}, inHalfAMinute, Limit::Rate, 29'000ms, 30'000ms},
        {"503, seconds", 503, {}, "120", Limit::None, 120'000ms, 120'000ms},
        {"429, days", 429, {}, "999999999", Limit::Rate, 600'000ms, 600'000ms},
        {"429, a word", 429, {}, "soon", Limit::Rate, {}, {}},
        {"429, negative", 429, {}, "-5", Limit::Rate, {}, {}},
        {"403 full", 403, full, {}, Limit::StorageFull, {}, {}},
        {"403 daily cap", 403, daily, "3600", Limit::DailyUpload, 600'000ms, 600'000ms},
        {"403 rights", 403, R"({"error":{"errors":[{"reason":"forbidden"}]}})", {}, Limit::None,
         {}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        HttpResponse response;
        response.status = c.status;
        response.body = c.body;
        if (!c.retryAfter.isEmpty())
            response.headers.append({"Retry-After", c.retryAfter});
        const DriveAPIError error = DriveClient::apiError(response);
        EXPECT_EQ(error.limit(), c.limit);
        EXPECT_EQ(error.stopsWrites(), c.limit == Limit::StorageFull || c.limit == Limit::DailyUpload);
        EXPECT_EQ(error.retryAfter().has_value(), c.shortest.has_value());
        if (error.retryAfter() && c.shortest) {
            EXPECT_GE(*error.retryAfter(), *c.shortest);
            EXPECT_LE(*error.retryAfter(), *c.longest);
        }
    }
}

TEST_F(DriveRequests, MalformedItemIDsAreRefusedBeforeAnythingIsSent)
{
    const QString message = u"Địa chỉ file Google Drive không hợp lệ."_s;
    const DriveFile valid(folder, u"Hồ sơ"_s, QString(DriveFile::folderMimeType));
    const QStringList bad{u"a/b"_s,     u"a?b"_s, u"a b"_s,
                          u""_s,        u"a.b"_s, u"a%2Fb"_s,
                          u"a#b"_s,     u".."_s,  QString::fromUtf16(u"a\0b", 3),
                          u"a\u200Bb"_s};
    for (const QString &id : bad) {
        SCOPED_TRACE(id.toStdString());
        DriveFile item = valid;
        item.id = id;
        EXPECT_EQ(failure<TarnwickError>(client.file(id)).message(), message);
        EXPECT_EQ(failure<TarnwickError>(client.rename(item, u"Mới"_s)).message(), message);
        EXPECT_EQ(failure<TarnwickError>(client.trash(item)).message(), message);
        EXPECT_EQ(failure<TarnwickError>(client.deletePermanently(item)).message(), message);
        EXPECT_EQ(failure<TarnwickError>(client.listPermissions(id)).message(), message);
        EXPECT_EQ(
            failure<TarnwickError>(client.addPermission(id, u"b@example.com"_s, u"reader"_s, false))
                .message(),
            message);
        EXPECT_EQ(failure<TarnwickError>(client.createShareLink(id)).message(), message);
        EXPECT_EQ(
            failure<TarnwickError>(client.updatePermissionRole(id, u"p1"_s, u"writer"_s)).message(),
            message);
        EXPECT_EQ(failure<TarnwickError>(client.deletePermission(id, u"p1"_s)).message(), message);
        // The permission ID follows the same rule.
        EXPECT_EQ(
            failure<TarnwickError>(client.updatePermissionRole(folder, id, u"writer"_s)).message(),
            message);
        EXPECT_EQ(failure<TarnwickError>(client.deletePermission(folder, id)).message(), message);
    }
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_TRUE(tokenRequests.isEmpty());
}

TEST_F(DriveRequests, LettersAndDigitsOfAnyScriptMakeAValidItemID)
{
    const QString id = u"Tệp_٣-x"_s;
    const DriveAPIError error = failure<DriveAPIError>(client.file(id)); // Drive's own 404
    EXPECT_EQ(error.status(), 404);
    EXPECT_EQ(error.message(),
              u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s);
    ASSERT_EQ(requests().size(), 1);
    EXPECT_EQ(requests()[0].path, u"/drive/v3/files/"_s + id);
}

TEST_F(DriveRequests, QueryValuesReachDriveExactlyAsGiven)
{
    const QList<std::pair<QString, QString>> parents{
        {u"O'Neil"_s, u"'O\\'Neil' in parents and trashed = false"_s},
        // Backslashes are doubled before apostrophes are escaped.
        {u"a\\'b"_s, u"'a\\\\\\'b' in parents and trashed = false"_s},
        {u"x+y&z=w #%2B;ü"_s, u"'x+y&z=w #%2B;ü' in parents and trashed = false"_s},
    };
    for (const auto &[parent, q] : parents) {
        SCOPED_TRACE(parent.toStdString());
        clearRequests();
        answerOnce(200, R"({"files":[]})", u"GET"_s, u"^/drive/v3/files$"_s);
        EXPECT_TRUE(run(client.list(parent, false)).isEmpty());
        const auto log = requests();
        ASSERT_EQ(log.size(), 1);
        EXPECT_EQ(queryOf(log[0]).value(u"q"_s), q);
    }
}

TEST_F(DriveRequests, StopBeforeTheStartSendsNothing)
{
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(run(client.account(stop.get_token())), Cancelled);
    EXPECT_THROW(run(client.list(u"root"_s, false, stop.get_token())), Cancelled);
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_TRUE(tokenRequests.isEmpty());
}

TEST_F(DriveRequests, TransportFailurePassesThroughUnwrapped)
{
    emulator.stop();
    EXPECT_THROW(run(client.account()), NetworkError);
}

} // namespace
