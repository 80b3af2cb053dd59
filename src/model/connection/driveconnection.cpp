#include "connection/driveconnection.h"

#include "async/async.h"
#include "records/decimalinteger.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "auth/googleauth.h"
#include "publish.h"
#include "stepoutcome.h"
#include "net/tarnwicknetwork.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

// A client JSON is a few hundred bytes; reading stops well before a wrong pick could stall the
// window.
constexpr qint64 configurationReadLimit = 1 << 20;

QCoro::Task<QString> accessTokenFor(QPointer<DriveConnection> connection, bool forceRefresh,
                                    std::stop_token stop)
{
    if (!connection)
        throw Cancelled();
    auto asking = connection->auth().accessToken(forceRefresh, std::move(stop));
    co_return co_await asking;
}

QByteArray readConfigurationFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SystemError(file.errorString());
    const QByteArray bytes = file.read(configurationReadLimit);
    if (file.error() != QFileDevice::NoError)
        throw SystemError(file.errorString());
    return bytes;
}

// Reading the file is part of the step, so an unreadable file fails like a rejected one. auth is
// used only before the first wait.
QCoro::Task<> configureFrom(GoogleAuth *auth, QString path)
{
    auto configuring = auth->configure(readConfigurationFile(path));
    co_await configuring;
}

} // namespace

QString DriveConnection::disconnectedAccountName()
{
    return u"Chưa kết nối"_s;
}

QString DriveConnection::disconnectedAccountEmail()
{
    return u"Google Drive"_s;
}

DriveConnection::DriveConnection(Desktop &desktop, KeychainStore keychain, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_auth(new GoogleAuth(TarnwickNetwork::session(), std::move(keychain), this))
    , m_accountName(disconnectedAccountName())
    , m_accountEmail(disconnectedAccountEmail())
{
    QPointer<DriveConnection> self(this);
    m_drive = std::make_unique<DriveClient>(
        TarnwickNetwork::session(), [self](bool forceRefresh, std::stop_token stop) {
            return accessTokenFor(self, forceRefresh, std::move(stop));
        });
}

DriveConnection::~DriveConnection()
{
    m_lifetime.request_stop();
}

void DriveConnection::setConnectionError(std::optional<QString> error)
{
    publish(this, m_connectionError, std::move(error), &DriveConnection::connectionErrorChanged);
}

void DriveConnection::setConnected(bool connected)
{
    publish(this, m_connected, connected, &DriveConnection::connectedChanged);
}

void DriveConnection::resetAccount()
{
    publish(this, m_accountName, disconnectedAccountName(), &DriveConnection::accountNameChanged);
    publish(this, m_accountEmail, disconnectedAccountEmail(), &DriveConnection::accountEmailChanged);
    publish(this, m_quota, std::optional<DriveAccount::Quota>(), &DriveConnection::quotaChanged);
}

std::optional<qint64> DriveConnection::cloudFreeSpace() const
{
    if (!m_quota || !m_quota->limit || !m_quota->usage)
        return std::nullopt;
    const std::optional<qint64> limit = parseDecimalInt64(*m_quota->limit);
    const std::optional<qint64> usage = parseDecimalInt64(*m_quota->usage);
    if (!limit || !usage)
        return std::nullopt;
    qint64 free = 0;
    // Any two 64-bit numbers may come; a difference beyond the range means "a lot" or "none".
    if (__builtin_sub_overflow(*limit, *usage, &free))
        return *usage < 0 ? std::numeric_limits<qint64>::max() : 0;
    return std::max<qint64>(free, 0);
}

QCoro::Task<bool> DriveConnection::restore()
{
    QPointer<DriveConnection> self(this);
    auto restoring = settle(m_auth->restore());
    const StepOutcome<void> restored = co_await restoring;
    if (restored.cancelled() || !self)
        co_return false;
    if (restored.failure)
        emit failed(*restored.failure);
    // Mirrored after a failure too: a damaged tokens item leaves the configuration usable.
    publish(this, m_configured, m_auth->configured(), &DriveConnection::configuredChanged);
    setConnected(m_auth->connected());
    publish(this, m_managedGoogle, m_auth->usesBundledConfiguration(),
            &DriveConnection::managedGoogleChanged);
    co_return true;
}

void DriveConnection::login()
{
    if (m_connecting)
        return;
    publish(this, m_connecting, true, &DriveConnection::connectingChanged);
    setConnectionError(std::nullopt);
    m_loginTask.emplace();
    detach(runLogin(m_loginTask->get_token()), {});
}

void DriveConnection::cancelLogin()
{
    if (m_loginTask)
        m_loginTask->request_stop();
    m_auth->cancelLogin();
}

QCoro::Task<> DriveConnection::runLogin(std::stop_token stop)
{
    QPointer<DriveConnection> self(this);
    auto signingIn = settle(m_auth->login(
        [self](const QUrl &url) {
            if (self)
                self->m_desktop.openUrl(url);
        },
        stop));
    const StepOutcome<void> outcome = co_await signingIn;
    if (!self)
        co_return;

    if (outcome.done()) {
        setConnected(m_auth->connected());
        emit signedIn();
        co_await loadAccount();
        if (!self)
            co_return;
        if (m_hooks.afterSignIn) {
            co_await m_hooks.afterSignIn();
            if (!self)
                co_return;
        }
    } else if (outcome.failure) {
        setConnectionError(outcome.failure);
    }
    publish(this, m_connecting, false, &DriveConnection::connectingChanged);
    m_loginTask.reset();
}

QCoro::Task<> DriveConnection::importConfiguration()
{
    QPointer<DriveConnection> self(this);
    Desktop::FilesRequest request;
    request.prompt = u"Nhập cấu hình"_s;
    request.multiple = false;
    request.mimeTypes = {u"application/json"_s};
    auto asking = m_desktop.chooseFiles(std::move(request));
    const QStringList picked = co_await asking;
    if (!self || picked.isEmpty())
        co_return;

    const QString path = picked.first();
    auto configuring = proceed(this, configureFrom(m_auth, path),
                               [this](QString failure) { setConnectionError(failure); });
    const auto configured = co_await configuring;
    if (!configured)
        co_return;
    publish(this, m_configured, m_auth->configured(), &DriveConnection::configuredChanged);
    publish(this, m_configurationName, QFileInfo(path).fileName(), &DriveConnection::configurationNameChanged);
    setConnectionError(std::nullopt);
}

QCoro::Task<> DriveConnection::disconnect()
{
    if (m_hooks.transfersPending && m_hooks.transfersPending()) {
        emit failed(u"Hãy hoàn tất hoặc hủy các tác vụ trước khi ngắt kết nối."_s);
        co_return;
    }
    auto signingOut =
        proceed(this, m_auth->disconnect(), [this](QString failure) { emit failed(failure); });
    const auto done = co_await signingOut;
    if (!done)
        co_return;
    setConnected(false);
    emit signedOut();
    resetAccount();
}

QCoro::Task<> DriveConnection::loadAccount()
{
    QPointer<DriveConnection> self(this);
    const QUuid generation = m_auth->generation();
    const DriveClient client = *m_drive;
    auto fetching = settle(client.account(m_lifetime.get_token()));
    const StepOutcome<DriveAccount> fetched = co_await fetching;
    // An answer for a sign-in that has ended (or been replaced) says nothing about this one.
    if (fetched.cancelled() || !self || m_auth->generation() != generation)
        co_return;
    if (fetched.failure) {
        emit failed(*fetched.failure);
        co_return;
    }
    if (!m_connected)
        co_return;
    const DriveAccount &account = *fetched.value;
    publish(this, m_accountName, account.user.displayName.value_or(u"Google Drive"_s),
            &DriveConnection::accountNameChanged);
    publish(this, m_accountEmail, account.user.emailAddress.value_or(u"Đã kết nối"_s),
            &DriveConnection::accountEmailChanged);
    publish(this, m_quota, account.storageQuota, &DriveConnection::quotaChanged);
}

QCoro::Task<> DriveConnection::refreshAccount()
{
    if (m_connected)
        co_await loadAccount();
}

} // namespace Tarnwick
