#include "drive/driveclient.h"

#include "async/async.h"
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
{
}

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
    HttpResponse response = co_await m_session->send(std::move(request), stop);
    if (response.status < 100)
        throw TarnwickError(u"Không nhận được phản hồi từ Google."_s);
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
        throw apiError(response.body, response.status);
    co_return response;
}

QCoro::Task<HttpResponse> DriveClient::retrying(HttpRequest request, QList<int> accepted,
                                                std::stop_token stop) const
{
    for (int counter = 0;; ++counter) {
        std::exception_ptr failure;
        try {
            co_return co_await authorized(request, accepted, stop);
        } catch (...) {
            failure = std::current_exception();
        }
        throwIfStopped(stop);
        if (!m_retrying || counter > lastRetry || !isRetryable(failure))
            std::rethrow_exception(failure);
        co_await sleepFor(retryWait(counter), stop);
    }
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

DriveAPIError DriveClient::apiError(const QByteArray &data, int status)
{
    // Every level of Google's envelope is optional; a body that is not JSON (an HTML page from a
    // front end) counts as no envelope.
    std::optional<QString> googleMessage;
    bool rateLimited = false;
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
            if (reason == "rateLimitExceeded"_L1 || reason == "userRateLimitExceeded"_L1)
                rateLimited = true;
        }
    }

    // Google's text is English: it stays in the detail, and the message says in Vietnamese what
    // the status means.
    QString message;
    if (status == 401)
        message = u"Phiên Google đã hết hạn. Hãy kết nối lại."_s;
    else if (status == 429)
        message = u"Google đang bận. Tarnwick sẽ thử tải lên lại sau."_s;
    else if (status == 404 || status == 410)
        message = u"File hoặc thư mục không còn tồn tại, hoặc phiên tải lên đã hết hạn."_s;
    else if (status == 409)
        message = u"Mục này vừa thay đổi hoặc đã có trên Google Drive. Hãy làm mới rồi thử lại."_s;
    else if (status == 403 && rateLimited)
        message = u"Google đang giới hạn lượt truy cập. Hãy thử lại sau."_s;
    else if (status == 403)
        message = u"Không có quyền thực hiện thao tác này. Kiểm tra quyền thư mục và Google Drive API."_s;
    else if (status >= 400 && status < 500)
        message = u"Google Drive không nhận yêu cầu này (%1)."_s.arg(status);
    else
        message = u"Không kết nối được Google Drive (%1)."_s.arg(status);
    return DriveAPIError(status, message, status == 429 || status >= 500 || rateLimited,
                         googleMessage.value_or(QString()));
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
