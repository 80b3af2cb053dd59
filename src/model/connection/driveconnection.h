#pragma once

#include "auth/keychainstore.h"
#include "drive/driveaccount.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <functional>
#include <memory>
#include <optional>

namespace Tarnwick {

class Desktop;
class DriveClient;
class GoogleAuth;

// The connection slice: the Google sign-in, the account shown for it with its quota, the
// developer configuration, and signing out. What a sign-in or a sign-out means for the rest of
// the window goes out as signedIn() and signedOut(); failures that are not the connection
// screen's own go out as failed(), which the model shows as its alert.
//
// Account answers are published only while the sign-in they were asked for is still current.
// Main thread only.
class DriveConnection final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DriveConnection)

public:
    // What the connection asks of the rest of the window; the owner sets them.
    struct Hooks
    {
        // Transfers run or wait: signing out is refused meanwhile.
        std::function<bool()> transfersPending;
        // Runs after a sign-in has loaded the account, before `connecting` ends (the listing).
        std::function<QCoro::Task<>()> afterSignIn;
    };

    // desktop is not owned and outlives the slice. The sign-in keeps its tokens and developer
    // configuration under keychain's service.
    DriveConnection(Desktop &desktop, KeychainStore keychain, QObject *parent = nullptr);
    // Ends the requests still running.
    ~DriveConnection() override;

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }

    Desktop &desktop() const { return m_desktop; }

    // The sign-in owner.
    GoogleAuth &auth() const { return *m_auth; }
    // The Drive client, created with the slice and kept for its life (signing out keeps it). Its
    // token source holds the slice weakly: once the slice is gone it fails with Cancelled.
    DriveClient &drive() const { return *m_drive; }

    bool connected() const { return m_connected; }
    // A Google configuration is present.
    bool configured() const { return m_configured; }
    // The application ships its own Google configuration.
    bool managedGoogle() const { return m_managedGoogle; }
    // A sign-in is running.
    bool connecting() const { return m_connecting; }
    // "Chưa kết nối" and "Google Drive" while nobody is signed in.
    const QString &accountName() const { return m_accountName; }
    const QString &accountEmail() const { return m_accountEmail; }
    const std::optional<DriveAccount::Quota> &quota() const { return m_quota; }
    // Why the last sign-in or configuration import failed (the connection screen shows it).
    const std::optional<QString> &connectionError() const { return m_connectionError; }
    void setConnectionError(std::optional<QString> error);
    // File name of the developer configuration imported in this run; empty when none.
    const QString &configurationName() const { return m_configurationName; }
    // Bytes left on Drive: the quota's limit minus its usage, at least 0; missing unless both
    // are decimal numbers (an account without a limit has none).
    std::optional<qint64> cloudFreeSpace() const;

    // Start-up: restores the stored sign-in and mirrors its flags; a failure goes to failed()
    // and the flags are mirrored all the same. False when cancelled or the slice went away.
    QCoro::Task<bool> restore();
    // Starts the browser sign-in (nothing while one runs). Success announces signedIn(), loads
    // the account and runs afterSignIn; a failure other than a cancellation goes to
    // connectionError.
    void login();
    // Ends a running sign-in without any message.
    void cancelLogin();
    // Lets a developer pick a Google client JSON and installs it; failures go to
    // connectionError.
    QCoro::Task<> importConfiguration();
    // Signs out, refused (with failed()) while transfers run or wait. The configuration and the
    // Drive client stay, so the user can sign in again at once. (Hides QObject::disconnect on
    // purpose: callers of this class mean signing out.)
    QCoro::Task<> disconnect();
    // Fetches name, e-mail address and quota; written only while the same sign-in is still
    // connected. A failure goes to failed().
    QCoro::Task<> loadAccount();
    // loadAccount while connected; nothing otherwise.
    QCoro::Task<> refreshAccount();

signals:
    void connectedChanged();
    void configuredChanged();
    void managedGoogleChanged();
    void connectingChanged();
    void accountNameChanged();
    void accountEmailChanged();
    void quotaChanged();
    void connectionErrorChanged();
    void configurationNameChanged();
    // A sign-in succeeded; the account is not loaded yet.
    void signedIn();
    // The account was signed out.
    void signedOut();
    // A failure for the window's alert.
    void failed(const QString &message);

private:
    static QString disconnectedAccountName();
    static QString disconnectedAccountEmail();
    QCoro::Task<> runLogin(std::stop_token stop);
    void setConnected(bool connected);
    void resetAccount();

    Desktop &m_desktop;
    Hooks m_hooks;
    GoogleAuth *m_auth; // a child
    std::unique_ptr<DriveClient> m_drive;
    bool m_connected = false;
    bool m_configured = false;
    bool m_managedGoogle = false;
    bool m_connecting = false;
    QString m_accountName;
    QString m_accountEmail;
    std::optional<DriveAccount::Quota> m_quota;
    std::optional<QString> m_connectionError;
    QString m_configurationName;
    std::optional<std::stop_source> m_loginTask; // the running sign-in
    std::stop_source m_lifetime;
};

} // namespace Tarnwick
