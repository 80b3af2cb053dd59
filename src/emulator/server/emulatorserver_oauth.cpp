// EmulatorServer: the OAuth 2.0 authorization endpoint (consent page), token and revoke endpoints.
#include "server/emulatorserver.h"

#include "api/apierror.h"
#include "state/driveids.h"
#include "server/exchange.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QStringList &knownScopes()
{
    static const QStringList scopes{u"https://www.googleapis.com/auth/drive"_s,
                                    u"https://www.googleapis.com/auth/drive.file"_s,
                                    u"https://www.googleapis.com/auth/drive.readonly"_s,
                                    u"https://www.googleapis.com/auth/drive.metadata.readonly"_s,
                                    u"https://www.googleapis.com/auth/drive.appdata"_s,
                                    u"https://www.googleapis.com/auth/userinfo.email"_s,
                                    u"https://www.googleapis.com/auth/userinfo.profile"_s,
                                    u"openid"_s,
                                    u"email"_s,
                                    u"profile"_s};
    return scopes;
}

QString escapeHtml(const QString &text)
{
    return text.toHtmlEscaped();
}

QString errorPage(int code, const QString &error, const QString &detail)
{
    return u"<!DOCTYPE html><html lang=en><meta charset=utf-8><title>Error %1: %2</title>"
           "<body style='font:16px sans-serif;padding:48px'><h1>Access blocked: authorization "
           "error</h1>"
           "<p><b>Error %1: %2</b></p><p>%3</p></body></html>"_s.arg(code)
               .arg(escapeHtml(error), escapeHtml(detail));
}

// A form body or query string; nullopt when a parameter appears twice.
std::optional<QHash<QString, QString>> parseForm(const QByteArray &text, QString *duplicate)
{
    QHash<QString, QString> out;
    for (const QByteArray &pair : text.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype eq = pair.indexOf('=');
        QByteArray key = eq < 0 ? pair : pair.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        key.replace('+', ' ');
        value.replace('+', ' ');
        const QString k = QString::fromUtf8(QByteArray::fromPercentEncoding(key));
        if (out.contains(k)) {
            if (duplicate)
                *duplicate = k;
            return std::nullopt;
        }
        out.insert(k, QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return out;
}

bool loopbackRedirect(const QString &uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"http"_s || url.port() <= 0 ||
        !url.fragment().isEmpty() || !url.userInfo().isEmpty())
        return false;
    const QString host = url.host();
    return host == u"127.0.0.1"_s || host == u"::1"_s || host == u"localhost"_s;
}

QString withQuery(const QString &uri, const QList<QPair<QString, QString>> &items)
{
    QUrl url(uri);
    QUrlQuery query(url);
    for (const auto &[k, v] : items)
        query.addQueryItem(QString::fromLatin1(QUrl::toPercentEncoding(k)),
                           QString::fromLatin1(QUrl::toPercentEncoding(v)));
    url.setQuery(query.query(QUrl::FullyEncoded), QUrl::StrictMode);
    return url.toString(QUrl::FullyEncoded);
}

QString base64Url(const QByteArray &bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

void tokenError(Exchange &ex, int status, const QString &error, const QString &description)
{
    ex.send(status,
            QJsonDocument(QJsonObject{{u"error"_s, error}, {u"error_description"_s, description}})
                .toJson(),
            u"application/json; charset=utf-8"_s);
    ex.response.set_header("Cache-Control", "no-cache, no-store, max-age=0, must-revalidate");
    ex.response.set_header("Pragma", "no-cache");
}

} // namespace

void EmulatorServer::authorize(Exchange &ex)
{
    QString duplicate;
    const auto parsed = parseForm(ex.rawQuery().toUtf8(), &duplicate);
    if (!parsed)
        return ex.html(400, errorPage(400, u"invalid_request"_s,
                                      u"Parameter given more than once: "_s + duplicate));
    const QHash<QString, QString> &p = *parsed;
    auto missing = [&](const QString &name) {
        ex.html(400,
                errorPage(400, u"invalid_request"_s, u"Missing required parameter: "_s + name));
    };
    if (p.value(u"client_id"_s).isEmpty())
        return missing(u"client_id"_s);
    const auto client = m_state.client(p.value(u"client_id"_s));
    if (!client)
        return ex.html(401,
                       errorPage(401, u"invalid_client"_s, u"The OAuth client was not found."_s));
    const QString redirect = p.value(u"redirect_uri"_s);
    if (redirect.isEmpty())
        return missing(u"redirect_uri"_s);
    if (client->type != u"installed"_s || !loopbackRedirect(redirect))
        return ex.html(400,
                       errorPage(400, u"redirect_uri_mismatch"_s,
                                 u"You can't sign in to this app because it doesn't comply with "
                                 "Google's OAuth 2.0 policy. redirect_uri="_s +
                                     redirect));
    if (p.value(u"response_type"_s).isEmpty())
        return missing(u"response_type"_s);
    if (p.value(u"scope"_s).isEmpty())
        return missing(u"scope"_s);
    const QString accessType = p.value(u"access_type"_s, u"online"_s);
    if (accessType != u"online"_s && accessType != u"offline"_s)
        return ex.html(400, errorPage(400, u"invalid_request"_s,
                                      u"Invalid parameter value for access_type: "_s + accessType));
    if (p.contains(u"prompt"_s)) {
        const QStringList prompts = p.value(u"prompt"_s).split(u' ', Qt::SkipEmptyParts);
        for (const QString &prompt : prompts)
            if (prompt != u"none"_s && prompt != u"consent"_s && prompt != u"select_account"_s)
                return ex.html(400, errorPage(400, u"invalid_request"_s,
                                              u"Invalid parameter value for prompt: "_s + prompt));
        if (prompts.contains(u"none"_s) && prompts.size() > 1)
            return ex.html(400, errorPage(400, u"invalid_request"_s,
                                          u"prompt=none cannot be combined with other values."_s));
    }

    // From here on the client and redirect are trusted: errors go back to the app.
    const QString state = p.value(u"state"_s);
    auto fail = [&](const QString &error, const QString &description) {
        QList<QPair<QString, QString>> items{{u"error"_s, error}};
        if (!description.isEmpty())
            items.append({u"error_description"_s, description});
        if (p.contains(u"state"_s))
            items.append({u"state"_s, state});
        ex.redirect(withQuery(redirect, items));
    };
    if (p.value(u"response_type"_s) != u"code"_s)
        return fail(u"unsupported_response_type"_s, u"Only response_type=code is supported."_s);
    for (const QString &scope : p.value(u"scope"_s).split(u' ', Qt::SkipEmptyParts))
        if (!knownScopes().contains(scope))
            return fail(u"invalid_scope"_s, u"Some requested scopes were invalid: "_s + scope);
    const QString challenge = p.value(u"code_challenge"_s);
    const QString method = p.value(u"code_challenge_method"_s, u"plain"_s);
    static const QRegularExpression verifierChars(u"^[A-Za-z0-9._~-]{43,128}$"_s);
    if (challenge.isEmpty())
        return fail(u"invalid_request"_s,
                    u"Missing code_challenge: desktop sign-in must use PKCE."_s);
    if (method != u"S256"_s && method != u"plain"_s)
        return fail(u"invalid_request"_s, u"Invalid code_challenge_method: "_s + method);
    if (!verifierChars.match(challenge).hasMatch() ||
        (method == u"S256"_s && challenge.size() != 43))
        return fail(u"invalid_request"_s, u"Invalid code_challenge."_s);

    const QString hint = p.value(u"login_hint"_s);
    const QString email = m_state.user(hint) ? m_state.user(hint)->email : m_state.defaultUser();
    if (email.isEmpty())
        return ex.html(500, errorPage(500, u"server_error"_s, u"The emulator has no users."_s));
    if (m_autoConsent || p.value(u"prompt"_s) == u"none"_s)
        return ex.redirect(finishAuthorization(p, email, true));

    const QString consentId = DriveIds::randomToken(32);
    {
        std::lock_guard lock(m_consentMutex);
        const QDateTime now = m_state.now();
        m_consents.removeIf([&](const auto &it) { return it.value().expires < now; });
        m_consents.insert(consentId, PendingConsent{p, now.addSecs(1800)});
    }
    QString accounts;
    const QStringList users = m_state.userEmails();
    for (const QString &u : users) {
        const auto info = m_state.user(u);
        accounts +=
            u"<label style='display:block;margin:6px 0'><input type=radio name=user value='%1'%2> %3 &lt;%4&gt;</label>"_s
                .arg(escapeHtml(u), u == email ? u" checked"_s : QString(),
                     escapeHtml(info ? info->displayName : u), escapeHtml(u));
    }
    const QString page =
        u"<!DOCTYPE html><html lang=en><meta charset=utf-8><title>Sign in - Google Accounts</title>"
        "<body style='font:16px sans-serif;max-width:560px;margin:48px auto;color:#202124'>"
        "<h1 style='font-weight:400'>%1 wants access to your Google Account</h1>"
        "<p>This will allow %1 to see, edit, create and delete all of your Google Drive files.</p>"
        "<p style='color:#5f6368'>Scope: %2</p>"
        "<form method=post action='/o/oauth2/v2/auth/approval'>"
        "<input type=hidden name=consent value='%3'>%4"
        "<p style='margin-top:32px'>"
        "<button type=submit name=decision value=deny id=deny style='padding:8px "
        "24px'>Cancel</button> "
        "<button type=submit name=decision value=allow id=allow "
        "style='padding:8px "
        "24px;background:#1a73e8;color:#fff;border:0;border-radius:4px'>Allow</button>"
        "</p></form></body></html>"_s.arg(escapeHtml(client->name), escapeHtml(p.value(u"scope"_s)),
                                          consentId, accounts);
    ex.html(200, page);
}

QString EmulatorServer::finishAuthorization(const QHash<QString, QString> &p, const QString &email,
                                            bool allowed)
{
    const QString redirect = p.value(u"redirect_uri"_s);
    QList<QPair<QString, QString>> items;
    const auto client = m_state.client(p.value(u"client_id"_s));
    const bool testUserOk = !client || !client->testing || client->testUsers.isEmpty() ||
                            client->testUsers.contains(email, Qt::CaseInsensitive);
    if (!allowed || !testUserOk) {
        items.append({u"error"_s, u"access_denied"_s});
    } else {
        EmulatorState::AuthCode code;
        code.clientId = p.value(u"client_id"_s);
        code.redirectUri = redirect;
        code.codeChallenge = p.value(u"code_challenge"_s);
        code.codeChallengeMethod = p.value(u"code_challenge_method"_s, u"plain"_s);
        code.email = email;
        code.scope = p.value(u"scope"_s);
        code.offline = p.value(u"access_type"_s) == u"offline"_s;
        items.append({u"code"_s, m_state.createAuthCode(code)});
        items.append({u"scope"_s, code.scope});
    }
    if (p.contains(u"state"_s))
        items.append({u"state"_s, p.value(u"state"_s)});
    return withQuery(redirect, items);
}

void EmulatorServer::approve(Exchange &ex)
{
    const auto body = ex.readBody(64 * 1024);
    const auto form = body ? parseForm(*body, nullptr) : std::nullopt;
    if (!form)
        return ex.html(400, errorPage(400, u"invalid_request"_s, u"Malformed consent form."_s));
    PendingConsent pending;
    {
        std::lock_guard lock(m_consentMutex);
        const auto it = m_consents.find(form->value(u"consent"_s));
        if (it == m_consents.end() || it->expires < m_state.now())
            return ex.html(
                400, errorPage(400, u"invalid_request"_s,
                               u"This sign-in request has expired. Start again from the app."_s));
        pending = it.value();
        m_consents.erase(it);
    }
    QString email = form->value(u"user"_s);
    if (!m_state.user(email))
        email = m_state.defaultUser();
    ex.redirect(
        finishAuthorization(pending.params, email, form->value(u"decision"_s) == u"allow"_s));
}

void EmulatorServer::token(Exchange &ex)
{
    if (ex.method() != u"POST"_s) {
        ex.drain();
        return ex.html(
            405, errorPage(405, u"method_not_allowed"_s, u"The token endpoint takes POST."_s));
    }
    if (!ex.header("Content-Type")
             .startsWith(u"application/x-www-form-urlencoded"_s, Qt::CaseInsensitive)) {
        ex.drain();
        return tokenError(
            ex, 400, u"invalid_request"_s,
            u"Invalid Content-Type: the body must be application/x-www-form-urlencoded."_s);
    }
    const auto body = ex.readBody(64 * 1024);
    if (!body)
        return tokenError(ex, 400, u"invalid_request"_s, u"Request too large."_s);
    QString duplicate;
    const auto parsed = parseForm(*body, &duplicate);
    if (!parsed)
        return tokenError(ex, 400, u"invalid_request"_s, u"Parameter duplicated: "_s + duplicate);
    const QHash<QString, QString> &f = *parsed;
    const QString grant = f.value(u"grant_type"_s);
    if (grant != u"authorization_code"_s && grant != u"refresh_token"_s)
        return tokenError(ex, 400, u"unsupported_grant_type"_s, u"Invalid grant_type: "_s + grant);
    const QString clientId = f.value(u"client_id"_s);
    if (clientId.isEmpty())
        return tokenError(ex, 400, u"invalid_request"_s,
                          u"Could not determine client ID from request."_s);
    const auto client = m_state.client(clientId);
    if (!client)
        return tokenError(ex, 401, u"invalid_client"_s, u"The OAuth client was not found."_s);
    if (!f.contains(u"client_secret"_s) && client->type == u"installed"_s &&
        !client->clientSecret.isEmpty())
        return tokenError(ex, 400, u"invalid_request"_s, u"client_secret is missing."_s);
    if (f.contains(u"client_secret"_s) && f.value(u"client_secret"_s) != client->clientSecret)
        return tokenError(ex, 401, u"invalid_client"_s, u"Unauthorized"_s);

    QJsonObject answer;
    const qint64 lifetime = m_state.settings().accessTokenLifetime;
    if (grant == u"authorization_code"_s) {
        const QString codeText = f.value(u"code"_s);
        if (codeText.isEmpty())
            return tokenError(ex, 400, u"invalid_request"_s, u"Missing required parameter: code"_s);
        const QString redirect = f.value(u"redirect_uri"_s);
        if (redirect.isEmpty())
            return tokenError(ex, 400, u"invalid_request"_s, u"Missing parameter: redirect_uri"_s);
        if (!codeText.startsWith(u"4/"_s))
            return tokenError(ex, 400, u"invalid_grant"_s, u"Malformed auth code."_s);
        // A code is spent by any exchange attempt, as Google does.
        const auto code = m_state.takeAuthCode(codeText);
        if (!code)
            return tokenError(ex, 400, u"invalid_grant"_s, u"Bad Request"_s);
        if (code->clientId != clientId)
            return tokenError(ex, 400, u"invalid_grant"_s, u"Unauthorized"_s);
        if (code->redirectUri != redirect)
            return tokenError(ex, 400, u"redirect_uri_mismatch"_s, u"Bad Request"_s);
        const QString verifier = f.value(u"code_verifier"_s);
        if (!code->codeChallenge.isEmpty()) {
            if (verifier.isEmpty())
                return tokenError(ex, 400, u"invalid_grant"_s, u"Missing code verifier."_s);
            static const QRegularExpression verifierChars(u"^[A-Za-z0-9._~-]{43,128}$"_s);
            const QString expected = code->codeChallengeMethod == u"S256"_s
                                         ? base64Url(QCryptographicHash::hash(
                                               verifier.toUtf8(), QCryptographicHash::Sha256))
                                         : verifier;
            if (!verifierChars.match(verifier).hasMatch() || expected != code->codeChallenge)
                return tokenError(ex, 400, u"invalid_grant"_s, u"Invalid code verifier."_s);
        }
        answer.insert(u"access_token"_s,
                      m_state.issueAccessToken(code->email, clientId, code->scope));
        if (code->offline) {
            answer.insert(u"refresh_token"_s,
                          m_state.issueRefreshToken(code->email, clientId, code->scope));
            if (client->testing)
                answer.insert(u"refresh_token_expires_in"_s,
                              m_state.settings().testingRefreshTokenLifetime);
        }
        answer.insert(u"scope"_s, code->scope);
    } else {
        const QString refresh = f.value(u"refresh_token"_s);
        if (refresh.isEmpty())
            return tokenError(ex, 400, u"invalid_request"_s,
                              u"Missing required parameter: refresh_token"_s);
        const auto info = m_state.refreshToken(refresh);
        if (!info)
            return tokenError(ex, 400, u"invalid_grant"_s, u"Token has been expired or revoked."_s);
        if (info->clientId != clientId)
            return tokenError(ex, 400, u"unauthorized_client"_s, u"Unauthorized"_s);
        answer.insert(u"access_token"_s,
                      m_state.issueAccessToken(info->email, clientId, info->scope));
        answer.insert(u"scope"_s, info->scope);
    }
    answer.insert(u"expires_in"_s, lifetime - 1);
    answer.insert(u"token_type"_s, u"Bearer"_s);
    ex.send(200, QJsonDocument(answer).toJson(), u"application/json; charset=utf-8"_s);
    ex.response.set_header("Cache-Control", "no-cache, no-store, max-age=0, must-revalidate");
    ex.response.set_header("Pragma", "no-cache");
}

void EmulatorServer::revoke(Exchange &ex)
{
    QString tokenText = ex.param("token");
    if (tokenText.isEmpty() && ex.method() == u"POST"_s) {
        const auto body = ex.readBody(64 * 1024);
        const auto form = body ? parseForm(*body, nullptr) : std::nullopt;
        if (form)
            tokenText = form->value(u"token"_s);
    }
    if (tokenText.isEmpty() || !m_state.revokeGrant(tokenText))
        return tokenError(ex, 400, u"invalid_token"_s, u"Token expired or revoked"_s);
    ex.send(200, "{}", u"application/json; charset=utf-8"_s);
}

} // namespace Tarnwick::Emulator
