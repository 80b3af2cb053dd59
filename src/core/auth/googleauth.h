#pragma once

#include "auth/keychainstore.h"
#include "auth/oauthconfiguration.h"
// moc cannot parse the standard library's concepts, which these headers pull in first.
#ifndef Q_MOC_RUN
#include "async/asyncmutex.h"
#include <stop_token>
#endif

#include <QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

namespace Tarnwick {

class HttpEngine;
class OAuthLoopback;

// Owns the user's Google sign-in: which OAuth client Tarnwick is (the configuration shipped with
// the application, or a developer configuration imported at run time), the tokens Google issued,
// and every request to Google's OAuth endpoints (Endpoints::current()).
//
// login() runs the browser sign-in (PKCE, a loopback redirect on 127.0.0.1) and stores the tokens
// in the keychain; accessToken() hands out a token that is valid for more than a minute,
// refreshing it first when needed; restore() loads everything at start; disconnect() forgets the
// tokens. Tokens are written to the keychain before they are used, and the state in memory changes
// only once that write succeeded.
//
// Main thread only. Work that began under an older generation() (one from before a configuration
// change or a disconnect) ends with Cancelled and stores nothing. Destroying the object ends the
// operations still running with Cancelled.
class GoogleAuth final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GoogleAuth)
    Q_PROPERTY(bool configured READ configured NOTIFY configuredChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY connectedChanged)

public:
    // The tokens in use, as kept in memory and in the keychain item "oauth-tokens".
    struct Tokens
    {
        QString accessToken;
        std::optional<QString> refreshToken;
        // When accessToken stops being valid.
        QDateTime expires;
        // The OAuth client that obtained them; tokens stored by older versions lack it.
        std::optional<QString> clientID;

        bool operator==(const Tokens &) const = default;

        // {"accessToken", "refreshToken"?, "expires", "clientID"?}: "expires" is a number of
        // seconds since 2001-01-01 00:00:00 UTC, with a fraction. Absent members are omitted.
        QJsonObject toJson() const;
        QByteArray toJsonBytes() const;
        // Requires "accessToken" and "expires"; throws DecodingError otherwise.
        static Tokens fromJsonBytes(const QByteArray &bytes);
    };

    // An access token with this much time left or less is refreshed before use.
    static constexpr std::chrono::seconds refreshMargin{60};
    // Inactivity limit of a token request.
    static constexpr std::chrono::seconds tokenRequestTimeout{30};
    // Inactivity limit of the revocation sent when signing out.
    static constexpr std::chrono::seconds revocationTimeout{10};
    static QString defaultBundledConfigurationPath()
    {
        return QStringLiteral(":/GoogleOAuth.json");
    }

    // session carries every token request; it must outlive this object.
    explicit GoogleAuth(HttpEngine &session, KeychainStore keychain = KeychainStore(),
                        QObject *parent = nullptr);
    ~GoogleAuth() override;

    // Where restore() looks for the client JSON shipped with the application; empty: nowhere.
    void setBundledConfigurationPath(const QString &path) { m_bundledPath = path; }

    // Loads the configuration (the shipped one wins over the developer's) and the tokens, keeping
    // tokens only when they belong to the active client. On failure (an unreadable keychain, a
    // corrupt item, a broken shipped file) nothing is published: the flags stay as they were.
    // Only a corrupt tokens item still publishes the configuration it found (connected false)
    // before failing, so that signing in or out can replace the item.
    QCoro::Task<> restore();

    // Installs the bytes of a Google client JSON as the developer configuration. Refused while
    // the shipped configuration is in use and while connected.
    QCoro::Task<> configure(QByteArray json);

    // Runs the whole browser sign-in: openBrowser gets the authorization URL once the loopback
    // listener is ready. Ends connected, or fails; a stop of `stop` or cancelLogin() ends it with
    // Cancelled. A login started while another waits for its browser ends that one.
    QCoro::Task<> login(std::function<void(const QUrl &)> openBrowser, std::stop_token stop = {});

    // Ends a sign-in that waits for its browser with Cancelled; nothing when none waits.
    void cancelLogin();

    // Forgets the tokens (keychain first) and renews the generation. The configuration stays.
    // Then, in the background, asks Google to revoke the refresh token (the access token when
    // there is none), so that a copy left anywhere stops working; whatever the answer, or none,
    // the local removal stands. (Hides QObject::disconnect on purpose: callers of this class mean
    // signing out.)
    QCoro::Task<> disconnect();

    // An access token with more than refreshMargin left, refreshed first when it has less or when
    // forceRefresh is set (the Drive API rejected the current one).
    QCoro::Task<QString> accessToken(bool forceRefresh, std::stop_token stop = {});

    bool configured() const { return m_configured; }
    bool connected() const { return m_connected; }
    bool usesBundledConfiguration() const { return m_usesBundledConfiguration; }
    const std::optional<OAuthConfiguration> &configuration() const { return m_configuration; }
    QUuid generation() const { return m_generation; }
    // Whether a login waits for its browser (its loopback listener is open).
    bool loginPending() const { return !m_callback.isNull(); }

    static QString notConfiguredMessage();
    static QString bundledConfigurationMessage();
    static QString disconnectFirstMessage();
    static QString notConnectedMessage();
    static QString sessionExpiredMessage();

signals:
    void configuredChanged(bool configured);
    void connectedChanged(bool connected);

private:
    struct TokenResponse
    {
        QString accessToken;
        std::optional<QString> refreshToken;
        double expiresIn = 0;
    };
    // Shared with running coroutines, which check it after each wait.
    struct Lifetime
    {
        bool alive = true;
    };

    // Throws Cancelled when the object that started a coroutine is gone.
    static void ensureAlive(const std::shared_ptr<Lifetime> &life);
    QCoro::Task<TokenResponse> requestToken(QMap<QString, QString> fields, std::stop_token stop);
    // Sends one revocation and forgets about it: never fails.
    static QCoro::Task<> revoke(HttpEngine &session, QString token);
    QMap<QString, QString> clientFields(const OAuthConfiguration &configuration) const;
    QUrl authorizationUrl(const OAuthConfiguration &configuration, const QString &redirect,
                          const QString &challenge, const QString &state) const;
    void setConfigured(bool configured);
    void setConnected(bool connected);

    HttpEngine &m_session;
    KeychainStore m_keychain;
    QString m_bundledPath = defaultBundledConfigurationPath();
    std::shared_ptr<Lifetime> m_lifetime = std::make_shared<Lifetime>();
    // Keeps each read-check-write of the keychain and the state whole.
    AsyncMutex m_mutex;

    bool m_configured = false;
    bool m_connected = false;
    bool m_usesBundledConfiguration = false;
    std::optional<OAuthConfiguration> m_configuration;
    std::optional<Tokens> m_tokens;
    QPointer<OAuthLoopback> m_callback;
    QUuid m_generation = QUuid::createUuid();
};

} // namespace Tarnwick
