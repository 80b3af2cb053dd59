#include "drive/driveclient.h"

#include "async/async.h"
#include "async/clock.h"
#include "drive/drivepacer.h"
#include "net/endpoints.h"
#include "net/httpengine.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString DriveClient::itemFields =
    u"id,name,mimeType,size,modifiedTime,webViewLink,thumbnailLink,"
    "capabilities(canAddChildren,canEdit,canTrash,canDownload)"_s;
const QString DriveClient::listFields = u"nextPageToken,files("_s + itemFields + u")"_s;

DriveClient::DriveClient(HttpEngine &session, TokenSource token)
    : m_session(&session)
    , m_token(std::move(token))
    , m_pacer(std::make_shared<DrivePacer>())
{
}

namespace {

// Item creations have a budget of their own at Google: new folders and files, uploads' first
// requests, copies. Everything else counts only against the budget of all requests.
DrivePacer::Kind pacingKind(const HttpRequest &request)
{
    if (request.method != "POST")
        return DrivePacer::Kind::Query;
    const QString path = request.url.path();
    return path.endsWith("/files"_L1) || path.endsWith("/copy"_L1) ? DrivePacer::Kind::Write
                                                                   : DrivePacer::Kind::Query;
}

// Google's Retry-After, in seconds or as a date; capped so a hostile answer cannot park the
// account for days.
std::optional<std::chrono::milliseconds> retryAfterOf(const HttpResponse &response)
{
    const QByteArray value = response.header("Retry-After").trimmed();
    if (value.isEmpty())
        return std::nullopt;
    constexpr qint64 longest = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   DrivePacer::starvationCeiling)
                                   .count();
    bool number = false;
    const qint64 seconds = value.toLongLong(&number);
    qint64 ms = 0;
    if (number) {
        if (seconds < 0)
            return std::nullopt;
        ms = seconds > longest / 1000 ? longest : seconds * 1000;
    } else {
        const QDateTime at = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
        if (!at.isValid())
            return std::nullopt;
        ms = std::clamp<qint64>(Clock::current().now().msecsTo(at), 0, longest);
    }
    return std::chrono::milliseconds(ms);
}

} // namespace

QCoro::Task<HttpResponse> DriveClient::sendAuthorized(HttpRequest request, bool forceRefresh,
                                                      std::stop_token stop) const
{
    throwIfStopped(stop);
    // Every URL the client builds is on the API endpoint and upload sessions are checked before
    // use; this guards the token against any path that slipped past those checks.
    if (!Endpoints::current().isApiEndpoint(request.url))
        throw TarnwickError(u"Không nhận được phản hồi từ Google."_s);
    request.inactivityTimeout = requestTimeout;
    const QString token = co_await m_token(forceRefresh, stop);
    request.headers.removeIf([](const auto &header) {
        return header.first.compare("Authorization", Qt::CaseInsensitive) == 0;
    });
    request.headers.emplaceBack("Authorization", "Bearer " + token.toUtf8());
    const DrivePacer::Kind kind = pacingKind(request);
    co_await m_pacer->admit(kind, stop);
    HttpResponse response = co_await m_session->send(std::move(request), stop);
    if (response.status < 100)
        throw TarnwickError(u"Không nhận được phản hồi từ Google."_s);
    // A server's own trouble says nothing about the account's budget.
    if (response.status == 429 || response.status == 403) {
        const DriveAPIError answer = apiError(response);
        if (answer.limit() == DriveAPIError::Limit::Rate)
            m_pacer->limited(kind, answer.retryAfter());
        else
            m_pacer->succeeded(kind);
    } else if (response.status < 500) {
        m_pacer->succeeded(kind);
    }
    co_return response;
}

QCoro::Task<HttpResponse> DriveClient::authorized(HttpRequest request, QList<int> accepted,
                                                  std::stop_token stop) const
{
    HttpResponse response = co_await sendAuthorized(request, false, stop);
    if (response.status == 401) {
        throwIfStopped(stop);
        response = co_await sendAuthorized(std::move(request), true, stop);
    }
    if (!accepted.contains(response.status))
        throw apiError(response);
    co_return response;
}

QCoro::Task<HttpResponse> DriveClient::retrying(HttpRequest request, QList<int> accepted,
                                                std::stop_token stop) const
{
    for (int counter = 0, refusals = 0;;) {
        std::exception_ptr failure;
        try {
            co_return co_await authorized(request, accepted, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        throwIfStopped(stop);
        if (!m_retrying)
            std::rethrow_exception(failure);
        if (co_await waitOutRateLimit(refusals, failure, stop))
            continue;
        if (counter > lastRetry || !isRetryable(failure))
            std::rethrow_exception(failure);
        co_await sleepFor(transientWait(counter++, failure), stop);
    }
}

QCoro::Task<bool> DriveClient::waitOutRateLimit(int &refusals, std::exception_ptr failure,
                                                std::stop_token stop) const
{
    std::optional<std::chrono::milliseconds> retryAfter;
    try {
        std::rethrow_exception(failure);
    } catch (const DriveAPIError &e) {
        if (e.limit() != DriveAPIError::Limit::Rate)
            co_return false;
        retryAfter = e.retryAfter();
    } catch (...) {
        co_return false;
    }
    if (!m_pacer->mayRetry())
        std::rethrow_exception(failure);
    const std::chrono::milliseconds wait = DrivePacer::backoff(refusals++, retryAfter);
    const QDateTime until = Clock::current().now().addMSecs(wait.count());
    // Whatever ends the wait (its end, a stop), the pacer and the transfer hear of it.
    struct Announced
    {
        std::shared_ptr<DrivePacer> pacer;
        LimitWaitHandler handler;
        QDateTime until;
        ~Announced()
        {
            pacer->retryWent(until);
            if (handler)
                handler(until, false);
        }
    } announced{m_pacer, m_onLimitWait, until};
    m_pacer->retryWaits(until);
    if (m_onLimitWait)
        m_onLimitWait(until, true);
    co_await sleepFor(wait, stop);
    co_return true;
}

std::chrono::milliseconds DriveClient::transientWait(int counter, const std::exception_ptr &failure)
{
    std::chrono::milliseconds wait = retryWait(counter);
    try {
        std::rethrow_exception(failure);
    } catch (const DriveAPIError &e) {
        if (e.retryAfter())
            wait = std::max(wait, *e.retryAfter());
    } catch (...) {
    }
    return wait;
}

std::chrono::milliseconds DriveClient::retryWait(int counter)
{
    return std::chrono::seconds(std::min(1 << (counter + 1), 16));
}

bool DriveClient::isRetryable(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const DriveAPIError &e) {
        return e.retryable();
    } catch (const NetworkError &) {
        return true;
    } catch (...) {
        return false;
    }
}

QString DriveClient::storageFullMessage()
{
    return u"Google Drive đã hết dung lượng lưu trữ."_s;
}

QString DriveClient::dailyUploadCapMessage()
{
    return u"Tài khoản Google đã tải lên hết lượng cho phép trong ngày."_s;
}

DriveAPIError DriveClient::apiError(const HttpResponse &response)
{
    DriveAPIError error = apiError(response.body, response.status);
    error.setLimit(error.limit(), retryAfterOf(response));
    return error;
}

DriveAPIError DriveClient::apiError(const QByteArray &data, int status)
{
    // Every level of Google's envelope is optional; a body that is not JSON (an HTML page from a
    // front end) counts as no envelope.
    std::optional<QString> googleMessage;
    bool rateLimited = false;
    DriveAPIError::Limit limit = status == 429 ? DriveAPIError::Limit::Rate : DriveAPIError::Limit::None;
    const QJsonDocument document = QJsonDocument::fromJson(data);
    const QJsonValue error = document.object().value("error"_L1);
    if (error.isObject()) {
        const QJsonValue message = error.toObject().value("message"_L1);
        // An empty text would leave the user an empty alert; treat it as no text.
        if (message.isString() && !message.toString().trimmed().isEmpty())
            googleMessage = message.toString();
        const QJsonArray errors = error.toObject().value("errors"_L1).toArray();
        for (const QJsonValue &entry : errors) {
            const QString reason = entry.toObject().value("reason"_L1).toString();
            if (reason == "rateLimitExceeded"_L1 || reason == "userRateLimitExceeded"_L1) {
                rateLimited = true;
                limit = DriveAPIError::Limit::Rate;
            } else if (status == 403 && reason == "storageQuotaExceeded"_L1) {
                limit = DriveAPIError::Limit::StorageFull;
            } else if (status == 403 && reason == "dailyLimitExceeded"_L1) {
                limit = DriveAPIError::Limit::DailyUpload;
            }
        }
    }

    // Google's text is English: it stays in the detail, and the message says in Vietnamese what
    // the status means.
    QString message;
    if (status == 401)
        message = u"Phiên Google đã hết hạn. Hãy kết nối lại."_s;
    else if (status == 429)
        message = u"Google đang bận. Hãy thử lại sau."_s;
    else if (status == 404 || status == 410)
        message = u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s;
    else if (status == 409)
        message = u"Mục này vừa thay đổi hoặc đã có trên Google Drive. Hãy làm mới rồi thử lại."_s;
    else if (status == 403 && rateLimited)
        message = u"Google đang giới hạn lượt truy cập. Hãy thử lại sau."_s;
    else if (limit == DriveAPIError::Limit::StorageFull)
        message = storageFullMessage();
    else if (limit == DriveAPIError::Limit::DailyUpload)
        message = dailyUploadCapMessage();
    else if (status == 403)
        message = u"Không có quyền thực hiện thao tác này. Kiểm tra quyền thư mục và Google Drive API."_s;
    else if (status >= 400 && status < 500)
        message = u"Google Drive không nhận yêu cầu này (%1)."_s.arg(status);
    else
        message = u"Không kết nối được Google Drive (%1)."_s.arg(status);
    DriveAPIError result(status, message, status == 429 || status >= 500 || rateLimited,
                         googleMessage.value_or(QString()));
    result.setLimit(limit, std::nullopt);
    return result;
}

HttpRequest DriveClient::apiRequest(QByteArray method, const QString &path, const Query &query)
{
    // Every character outside the unreserved set is escaped, so "+", "&", "=" and "'" inside a
    // value reach Drive unchanged.
    QByteArray encoded;
    for (const auto &[name, value] : query) {
        if (!encoded.isEmpty())
            encoded += '&';
        encoded += QUrl::toPercentEncoding(name) + '=' + QUrl::toPercentEncoding(value);
    }
    HttpRequest request;
    request.method = std::move(method);
    request.url = Endpoints::current().apiUrl(path);
    if (!encoded.isEmpty())
        request.url.setQuery(QString::fromLatin1(encoded), QUrl::StrictMode);
    return request;
}

HttpRequest DriveClient::jsonRequest(QByteArray method, const QString &path, const Query &query,
                                     const QJsonObject &body)
{
    HttpRequest request = apiRequest(std::move(method), path, query);
    request.headers.emplaceBack("Content-Type", "application/json; charset=utf-8");
    request.body = HttpBody::fromBytes(QJsonDocument(body).toJson(QJsonDocument::Compact));
    return request;
}

QString DriveClient::filePath(const QString &id)
{
    return u"/drive/v3/files/"_s + id;
}

void DriveClient::checkItemID(const QString &id)
{
    // toUcs4 turns a lone surrogate into U+FFFD, which is not a letter.
    const QList<uint> codePoints = id.toUcs4();
    const bool valid =
        !codePoints.isEmpty() && std::all_of(codePoints.begin(), codePoints.end(), [](uint c) {
            return c == u'-' || c == u'_' || QChar::isLetterOrNumber(char32_t(c));
        });
    if (!valid)
        throw TarnwickError(u"Địa chỉ file Google Drive không hợp lệ."_s);
}

QString DriveClient::escapeQueryLiteral(const QString &text)
{
    // Backslashes first: escaping apostrophes first would double the backslashes it adds.
    QString escaped = text;
    escaped.replace(u'\\', "\\\\"_L1);
    escaped.replace(u'\'', "\\'"_L1);
    return escaped;
}

} // namespace Tarnwick
