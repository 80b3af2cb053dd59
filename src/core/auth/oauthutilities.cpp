#include "auth/oauthutilities.h"

#include "records/errors.h"

#include <QCryptographicHash>
#include <QList>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace Tarnwick::OAuthUtilities {

namespace {

bool keptAsIs(char32_t c)
{
    if (c == U'-' || c == U'.' || c == U'_' || c == U'~')
        return true;
    switch (QChar::category(c)) {
    case QChar::Letter_Uppercase:
    case QChar::Letter_Lowercase:
    case QChar::Letter_Titlecase:
    case QChar::Letter_Modifier:
    case QChar::Letter_Other:
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Number_DecimalDigit:
    case QChar::Number_Letter:
    case QChar::Number_Other:
        return true;
    default:
        return false;
    }
}

QByteArray formEscape(const QString &text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (char32_t c : text.toUcs4()) {
        const QByteArray bytes = QString::fromUcs4(&c, 1).toUtf8();
        if (keptAsIs(c)) {
            out += bytes;
            continue;
        }
        for (char byte : bytes) {
            const auto b = static_cast<unsigned char>(byte);
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0x0F];
        }
    }
    return out;
}

// One query item as a URL parser gives it: the value is missing when the item has no "=".
struct QueryItem
{
    QString name;
    std::optional<QString> value;
};

// Parsed by hand because QUrlQuery reports "a" and "a=" alike, while "a state without a value"
// must be told apart from "an empty state". "+" is not a space here.
QList<QueryItem> queryItems(const QUrl &url)
{
    QList<QueryItem> items;
    if (!url.hasQuery())
        return items;
    const QString query = url.query(QUrl::FullyEncoded);
    if (query.isEmpty())
        return items;
    for (const QString &piece : query.split(u'&')) {
        const qsizetype equals = piece.indexOf(u'=');
        const auto decode = [](const QString &encoded) {
            return QUrl::fromPercentEncoding(encoded.toUtf8());
        };
        if (equals < 0)
            items.append({decode(piece), std::nullopt});
        else
            items.append({decode(piece.left(equals)), decode(piece.mid(equals + 1))});
    }
    return items;
}

QString withDetail(QString base, const std::optional<QString> &detail)
{
    if (detail && !detail->isEmpty())
        base += u" Google báo: "_s + *detail;
    return base;
}

} // namespace

QByteArray form(const QMap<QString, QString> &fields)
{
    QList<std::pair<QString, QString>> pairs;
    for (auto it = fields.cbegin(); it != fields.cend(); ++it)
        pairs.append({it.key(), it.value()});
    // By code point: UTF-16 order differs for characters beyond the BMP.
    std::sort(pairs.begin(), pairs.end(),
              [](const auto &a, const auto &b) { return a.first.toUcs4() < b.first.toUcs4(); });

    QByteArray body;
    for (const auto &[key, value] : std::as_const(pairs)) {
        if (!body.isEmpty())
            body += '&';
        body += formEscape(key) + '=' + formEscape(value);
    }
    return body;
}

QString base64URL(const QByteArray &data)
{
    return QString::fromLatin1(
        data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString challenge(const QString &verifier)
{
    return base64URL(QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256));
}

LoopbackRequest readLoopbackRequest(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    // Bytes that do not decode yet may be a character cut by the read; until the head is whole
    // the request is not judged.
    if (decoder.hasError() || !text.contains(u"\r\n\r\n"_s))
        return {};

    const QString requestLine = text.left(text.indexOf(u"\r\n"_s));
    const QStringList pieces = requestLine.split(u' ', Qt::SkipEmptyParts);
    if (pieces.size() != 3 || pieces[0] != u"GET"_s || !pieces[1].startsWith(u"/oauth/callback?"_s))
        return {LoopbackRequest::Kind::Refused, {}};
    return {LoopbackRequest::Kind::Callback, pieces[1]};
}

bool carriesState(const QUrl &url, const QString &expectedState)
{
    const QList<QueryItem> items = queryItems(url);
    const auto states = std::count_if(items.cbegin(), items.cend(), [](const QueryItem &item) {
        return item.name == "state"_L1;
    });
    const auto state = std::find_if(items.cbegin(), items.cend(), [](const QueryItem &item) {
        return item.name == "state"_L1;
    });
    return states == 1 && state->value == expectedState;
}

QString authorizationCode(const QUrl &url, const QString &expectedState)
{
    const QList<QueryItem> items = queryItems(url);
    const auto named = [&items](QLatin1StringView name) {
        return std::find_if(items.cbegin(), items.cend(),
                            [name](const QueryItem &item) { return item.name == name; });
    };

    if (!carriesState(url, expectedState))
        throw TarnwickError(u"Phiên đăng nhập không khớp. Hãy kết nối lại."_s);

    if (const auto error = named("error"_L1); error != items.cend()) {
        const auto description = named("error_description"_L1);
        const std::optional<QString> detail =
            description == items.cend() ? std::nullopt : description->value;
        throw TarnwickError(authorizationFailure(error->value.value_or(QString()), detail));
    }

    const auto code = named("code"_L1);
    if (code == items.cend() || !code->value || code->value->isEmpty())
        throw TarnwickError(u"Google chưa trả về mã đăng nhập."_s);
    return *code->value;
}

QString authorizationFailure(const QString &error, const std::optional<QString> &detail)
{
    QString base;
    if (error == "access_denied"_L1)
        base =
            u"Google đã chặn đăng nhập. Nếu anh không tự bấm Hủy, nghĩa là Gmail này chưa nằm trong danh sách Test users của Tarnwick, hoặc ứng dụng chưa qua xác minh của Google."_s;
    else if (error == "admin_policy_enforced"_L1)
        base =
            u"Quản trị viên Google Workspace của tổ chức đang chặn Tarnwick truy cập Google Drive."_s;
    else if (error == "org_internal"_L1)
        base =
            u"Ứng dụng đang giới hạn trong một tổ chức khác nên tài khoản này không dùng được."_s;
    else if (error == "disallowed_useragent"_L1)
        base =
            u"Google từ chối trình duyệt đang dùng. Hãy đăng nhập lại bằng Firefox hoặc Chrome."_s;
    else if (error == "redirect_uri_mismatch"_L1 || error == "invalid_client"_L1 ||
             error == "invalid_scope"_L1)
        base = u"Cấu hình OAuth client của Tarnwick chưa đúng ("_s + error +
               u"). Đây là lỗi phía nhà phát triển, không phải do tài khoản của anh."_s;
    else if (error.isEmpty())
        base = u"Google từ chối đăng nhập nhưng không nêu lý do."_s;
    else
        base = u"Google từ chối đăng nhập ("_s + error + u")."_s;
    return withDetail(base, detail);
}

QString tokenFailure(const QString &error, const std::optional<QString> &detail)
{
    QString base;
    if (error == "invalid_grant"_L1)
        base =
            u"Google đã thu hồi phiên đăng nhập. Khi Tarnwick còn ở giai đoạn Testing, Google chỉ giữ phiên 7 ngày rồi buộc đăng nhập lại. Hãy ngắt kết nối rồi đăng nhập lại."_s;
    else if (error == "invalid_client"_L1 || error == "unauthorized_client"_L1)
        base =
            u"Google không chấp nhận OAuth client của Tarnwick. Đây là lỗi cấu hình phía nhà phát triển."_s;
    else if (error == "invalid_scope"_L1)
        base =
            u"Quyền Google Drive mà Tarnwick yêu cầu chưa được khai báo đúng trong Google Cloud."_s;
    else if (error.isEmpty())
        base = u"Google chưa chấp nhận đăng nhập. Hãy kiểm tra kết nối mạng rồi thử lại."_s;
    else
        base = u"Google chưa chấp nhận đăng nhập ("_s + error + u")."_s;
    return withDetail(base, detail);
}

} // namespace Tarnwick::OAuthUtilities
