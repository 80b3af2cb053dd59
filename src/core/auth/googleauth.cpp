#include "auth/googleauth.h"

#include "async/async.h"
#include "async/clock.h"
#include "drive/decodingerror.h"
#include "net/endpoints.h"
#include "records/errors.h"
#include "net/httpbody.h"
#include "net/httpengine.h"
#include "drive/jsonreader.h"
#include "auth/oauthloopback.h"
#include "auth/oauthutilities.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QUrlQuery>

#include <array>
#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// Keychain dates count seconds from 2001-01-01 00:00:00 UTC.
const QDateTime referenceDate = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);

// Far beyond any real lifetime, and still safe to turn into milliseconds.
constexpr double secondsLimit = 1e11;

double finiteSeconds(const JsonReader &reader, QLatin1StringView key)
{
    const QJsonValue value = reader.requiredValue(key);
    if (!value.isDouble() || !std::isfinite(value.toDouble()) ||
        std::abs(value.toDouble()) > secondsLimit)
        throw reader.wrongType(key, "a number of seconds"_L1);
    return value.toDouble();
}

QDateTime afterSeconds(const QDateTime &start, double seconds)
{
    return start.addMSecs(std::llround(seconds * 1000.0));
}

} // namespace

QJsonObject GoogleAuth::Tokens::toJson() const
{
    QJsonObject object{
        {u"accessToken"_s, accessToken},
        {u"expires"_s, double(referenceDate.msecsTo(expires)) / 1000.0},
    };
    if (refreshToken)
        object.insert(u"refreshToken"_s, *refreshToken);
    if (clientID)
        object.insert(u"clientID"_s, *clientID);
    return object;
}

QByteArray GoogleAuth::Tokens::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

GoogleAuth::Tokens GoogleAuth::Tokens::fromJsonBytes(const QByteArray &bytes)
{
    const JsonReader reader(JsonReader::parseObject(bytes, "Tokens"_L1), "Tokens"_L1);
    Tokens tokens;
    tokens.accessToken = reader.requiredString("accessToken"_L1);
    tokens.refreshToken = reader.optionalString("refreshToken"_L1);
    tokens.expires = afterSeconds(referenceDate, finiteSeconds(reader, "expires"_L1));
    tokens.clientID = reader.optionalString("clientID"_L1);
    return tokens;
}

QString GoogleAuth::notConfiguredMessage()
{
    return u"Bản thử nghiệm này chưa được nhà phát triển kích hoạt đăng nhập Google."_s;
}

QString GoogleAuth::bundledConfigurationMessage()
{
    return u"Tarnwick đã được thiết lập Google sẵn. Anh chỉ cần đăng nhập."_s;
}

QString GoogleAuth::disconnectFirstMessage()
{
    return u"Hãy ngắt kết nối trước khi thay cấu hình Google."_s;
}

QString GoogleAuth::notConnectedMessage()
{
    return u"Hãy kết nối Google Drive để tiếp tục."_s;
}

QString GoogleAuth::sessionExpiredMessage()
{
    return u"Phiên đã hết hạn. Hãy ngắt kết nối rồi đăng nhập lại."_s;
}

GoogleAuth::GoogleAuth(HttpEngine &session, KeychainStore keychain, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_keychain(std::move(keychain))
{
}

GoogleAuth::~GoogleAuth()
{
    m_lifetime->alive = false;
    // The loopback is a child: deleting it ends a waiting login with Cancelled.
}

void GoogleAuth::ensureAlive(const std::shared_ptr<Lifetime> &life)
{
    if (!life->alive)
        throw Cancelled();
}

void GoogleAuth::setConfigured(bool configured)
{
    if (m_configured == configured)
        return;
    m_configured = configured;
    emit configuredChanged(configured);
}

void GoogleAuth::setConnected(bool connected)
{
    if (m_connected == connected)
        return;
    m_connected = connected;
    emit connectedChanged(connected);
}

QCoro::Task<> GoogleAuth::restore()
{
    const auto life = m_lifetime;
    const AsyncMutex::Guard guard = co_await m_mutex.lock();
    ensureAlive(life);

    const std::optional<QByteArray> storedConfiguration =
        co_await m_keychain.read(KeychainStore::configurationAccount());
    ensureAlive(life);
    std::optional<OAuthConfiguration> development;
    if (storedConfiguration)
        development = OAuthConfiguration::fromJsonBytes(*storedConfiguration);

    std::optional<QByteArray> bundled;
    QFile file(m_bundledPath);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly))
            throw SystemError(file.errorString());
        bundled = file.readAll();
    }
    m_configuration = OAuthConfiguration::resolve(bundled, development);
    m_usesBundledConfiguration = bundled.has_value();

    m_tokens.reset();
    const std::optional<QByteArray> storedTokens =
        co_await m_keychain.read(KeychainStore::tokensAccount());
    ensureAlive(life);
    if (storedTokens) {
        Tokens tokens;
        try {
            tokens = Tokens::fromJsonBytes(*storedTokens);
        } catch (const DecodingError &) {
            // A damaged item must not lock the user out: the configuration stays usable, and
            // signing in (which overwrites the item) or out (which deletes it) repairs it.
            setConfigured(m_configuration.has_value());
            setConnected(false);
            throw;
        }
        // Tokens of another client stay in the keychain but are not used.
        if (m_configuration && m_configuration->acceptsSession(tokens.clientID, development))
            m_tokens = tokens;
    }
    setConfigured(m_configuration.has_value());
    setConnected(m_configuration.has_value() && m_tokens.has_value());
}

QCoro::Task<> GoogleAuth::configure(QByteArray json)
{
    const auto life = m_lifetime;
    const AsyncMutex::Guard guard = co_await m_mutex.lock();
    ensureAlive(life);
    if (m_usesBundledConfiguration)
        throw TarnwickError(bundledConfigurationMessage());
    // A broken file is reported before the request to disconnect first.
    const OAuthConfiguration configuration = OAuthConfiguration::fromGoogleJSON(json);
    if (m_connected)
        throw TarnwickError(disconnectFirstMessage());
    co_await m_keychain.save(configuration.toJsonBytes(), KeychainStore::configurationAccount());
    ensureAlive(life);
    m_configuration = configuration;
    m_generation = QUuid::createUuid();
    setConfigured(true);
}

QMap<QString, QString> GoogleAuth::clientFields(const OAuthConfiguration &configuration) const
{
    QMap<QString, QString> fields{{u"client_id"_s, configuration.clientID}};
    if (configuration.clientSecret)
        fields.insert(u"client_secret"_s, *configuration.clientSecret);
    return fields;
}

QUrl GoogleAuth::authorizationUrl(const OAuthConfiguration &configuration, const QString &redirect,
                                  const QString &challenge, const QString &state) const
{
    const Endpoints &endpoints = Endpoints::current();
    QUrl url = endpoints.authorization;
    QUrlQuery query(url);
    query.addQueryItem(u"client_id"_s, configuration.clientID);
    query.addQueryItem(u"redirect_uri"_s, redirect);
    query.addQueryItem(u"response_type"_s, u"code"_s);
    query.addQueryItem(u"scope"_s, endpoints.driveScope);
    query.addQueryItem(u"code_challenge"_s, challenge);
    query.addQueryItem(u"code_challenge_method"_s, u"S256"_s);
    query.addQueryItem(u"state"_s, state);
    query.addQueryItem(u"access_type"_s, u"offline"_s);
    query.addQueryItem(u"prompt"_s, u"consent"_s);
    url.setQuery(query);
    return url;
}

namespace {

// Cancels a login's loopback when the task running the login is stopped, possibly from another
// thread: the cancellation itself runs on the main thread.
struct CancelOnStop
{
    QPointer<OAuthLoopback> loopback;
    void operator()() const
    {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [loopback = loopback] {
                if (loopback)
                    loopback->cancel();
            },
            Qt::QueuedConnection);
    }
};

} // namespace

QCoro::Task<> GoogleAuth::login(std::function<void(const QUrl &)> openBrowser, std::stop_token stop)
{
    const auto life = m_lifetime;
    if (!m_configuration)
        throw TarnwickError(notConfiguredMessage());
    const OAuthConfiguration configuration = *m_configuration;
    const QUuid generation = m_generation;
    // Outlives this object: a grant that cannot be stored is revoked even after it is gone.
    HttpEngine &session = m_session;

    std::array<quint32, 16> random;
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray material(reinterpret_cast<const char *>(random.data()), 64);
    const QString verifier = OAuthUtilities::base64URL(material.first(32));
    const QString state = OAuthUtilities::base64URL(material.last(32));
    const QString challenge = OAuthUtilities::challenge(verifier);

    if (m_callback)
        m_callback->cancel();
    OAuthLoopback *loopback = new OAuthLoopback(this);
    loopback->expectState(state);
    m_callback = loopback;
    struct ClearCallback
    {
        GoogleAuth *self;
        std::shared_ptr<Lifetime> life;
        OAuthLoopback *loopback;
        ~ClearCallback()
        {
            // When this object is gone, so is the loopback (it was a child).
            if (!life->alive)
                return;
            if (self->m_callback == loopback)
                self->m_callback = nullptr;
            loopback->deleteLater();
        }
    } clearCallback{this, life, loopback};

    QString redirectTarget;
    std::optional<OAuthLoopback::Result> result;
    {
        const std::stop_callback<CancelOnStop> hook(stop, CancelOnStop{loopback});
        auto receiving = loopback->receive([=, this](const QString &redirect) {
            // The secret never goes to the browser.
            openBrowser(authorizationUrl(configuration, redirect, challenge, state));
        });
        result = co_await receiving;
    }
    ensureAlive(life);
    throwIfStopped(stop);

    const QString code = OAuthUtilities::authorizationCode(result->url, state);
    QMap<QString, QString> fields = clientFields(configuration);
    fields.insert(u"code"_s, code);
    fields.insert(u"code_verifier"_s, verifier);
    fields.insert(u"redirect_uri"_s, result->redirect);
    fields.insert(u"grant_type"_s, u"authorization_code"_s);
    const TokenResponse response = co_await requestToken(std::move(fields), stop);
    ensureAlive(life);
    throwIfStopped(stop);
    if (m_generation != generation)
        throw Cancelled();

    const Tokens tokens{response.accessToken, response.refreshToken,
                        afterSeconds(Clock::current().now(), response.expiresIn),
                        configuration.clientID};
    const AsyncMutex::Guard guard = co_await m_mutex.lock();
    ensureAlive(life);
    if (m_generation != generation)
        throw Cancelled();
    std::optional<QString> unsaved;
    try {
        co_await m_keychain.save(tokens.toJsonBytes(), KeychainStore::tokensAccount());
    } catch (const std::exception &e) {
        unsaved = describe(e);
    }
    if (unsaved) {
        // A grant that cannot be kept is ended at once (revoking the refresh token ends the access
        // token too): none stays alive at Google that the user cannot see or sign out of.
        auto revoking = revoke(session, tokens.refreshToken.value_or(tokens.accessToken));
        co_await revoking;
        throw TarnwickError(*unsaved + u" Tarnwick đã huỷ quyền Google vừa cấp; hãy mở khoá kho "
                                       "mật khẩu rồi đăng nhập lại."_s);
    }
    ensureAlive(life);
    m_tokens = tokens;
    setConnected(true);
}

void GoogleAuth::cancelLogin()
{
    if (m_callback)
        m_callback->cancel();
}

QCoro::Task<> GoogleAuth::disconnect()
{
    const auto life = m_lifetime;
    const AsyncMutex::Guard guard = co_await m_mutex.lock();
    ensureAlive(life);
    co_await m_keychain.remove(KeychainStore::tokensAccount());
    ensureAlive(life);
    m_generation = QUuid::createUuid();
    const std::optional<Tokens> forgotten = std::exchange(m_tokens, std::nullopt);
    setConnected(false);
    // Revoking the refresh token ends the whole grant, access tokens included.
    if (forgotten) {
        const QString token = forgotten->refreshToken.value_or(forgotten->accessToken);
        if (!token.isEmpty())
            detach(revoke(m_session, token), {});
    }
}

QCoro::Task<> GoogleAuth::revoke(HttpEngine &session, QString token)
{
    HttpRequest request;
    request.method = "POST";
    request.url = Endpoints::current().revocation;
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    request.body = HttpBody::fromBytes(OAuthUtilities::form({{u"token"_s, token}}));
    request.inactivityTimeout = revocationTimeout;
    try {
        auto sending = session.send(std::move(request));
        const HttpResponse answer = co_await sending;
        // 400 invalid_token: already revoked or expired, which is what was wanted.
        if (answer.status != 200 && answer.status != 400)
            qInfo("The token revocation was answered with status %d", answer.status);
    } catch (const Cancelled &) {
    } catch (const std::exception &e) {
        // Offline or refused: the token stays valid at Google until it expires or the user
        // removes the app's access in the Google account.
        qInfo("The token revocation failed: %s", e.what());
    }
}

QCoro::Task<QString> GoogleAuth::accessToken(bool forceRefresh, std::stop_token stop)
{
    const auto life = m_lifetime;
    if (!m_tokens || !m_configuration)
        throw TarnwickError(notConnectedMessage());
    const QUuid generation = m_generation;
    const Tokens current = *m_tokens;
    const OAuthConfiguration configuration = *m_configuration;

    const std::chrono::milliseconds left(Clock::current().now().msecsTo(current.expires));
    if (!forceRefresh && left > refreshMargin)
        co_return current.accessToken;
    if (!current.refreshToken)
        throw TarnwickError(sessionExpiredMessage());

    QMap<QString, QString> fields = clientFields(configuration);
    fields.insert(u"refresh_token"_s, *current.refreshToken);
    fields.insert(u"grant_type"_s, u"refresh_token"_s);
    TokenResponse response;
    std::exception_ptr failure;
    try {
        response = co_await requestToken(std::move(fields), stop);
    } catch (...) {
        failure = std::current_exception();
    }
    ensureAlive(life);
    throwIfStopped(stop);
    // Signing out meanwhile revokes the token being refreshed: its refusal is no news.
    if (m_generation != generation || !m_connected)
        throw Cancelled();
    if (failure)
        std::rethrow_exception(failure);

    // Google usually sends no new refresh token with a refresh; the one used stays valid.
    const Tokens fresh{
        response.accessToken, response.refreshToken ? response.refreshToken : current.refreshToken,
        afterSeconds(Clock::current().now(), response.expiresIn), configuration.clientID};
    const AsyncMutex::Guard guard = co_await m_mutex.lock();
    ensureAlive(life);
    if (m_generation != generation || !m_connected)
        throw Cancelled();
    co_await m_keychain.save(fresh.toJsonBytes(), KeychainStore::tokensAccount());
    ensureAlive(life);
    m_tokens = fresh;
    co_return fresh.accessToken;
}

QCoro::Task<GoogleAuth::TokenResponse> GoogleAuth::requestToken(QMap<QString, QString> fields,
                                                                std::stop_token stop)
{
    HttpRequest request;
    request.method = "POST";
    request.url = Endpoints::current().token;
    request.headers = {{"Content-Type", "application/x-www-form-urlencoded"}};
    request.body = HttpBody::fromBytes(OAuthUtilities::form(fields));
    request.inactivityTimeout = tokenRequestTimeout;
    const HttpResponse answer = co_await m_session.send(std::move(request), stop);

    if (answer.status == 200) {
        const JsonReader reader(JsonReader::parseObject(answer.body, "TokenResponse"_L1),
                                "TokenResponse"_L1);
        TokenResponse response;
        response.accessToken = reader.requiredString("access_token"_L1);
        response.refreshToken = reader.optionalString("refresh_token"_L1);
        response.expiresIn = finiteSeconds(reader, "expires_in"_L1);
        co_return response;
    }

    // An answer that is not Google's error JSON counts as one without a code.
    QString error;
    std::optional<QString> detail;
    try {
        const JsonReader reader(JsonReader::parseObject(answer.body, "TokenErrorResponse"_L1),
                                "TokenErrorResponse"_L1);
        const std::optional<QString> code = reader.optionalString("error"_L1);
        const std::optional<QString> description = reader.optionalString("error_description"_L1);
        error = code.value_or(QString());
        detail = description;
    } catch (const DecodingError &) {
    }
    throw TarnwickError(OAuthUtilities::tokenFailure(error, detail));
}

} // namespace Tarnwick
