#include "appmodel.h"

#include "async/async.h"
#include "records/decimalinteger.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "auth/googleauth.h"
#include "stepoutcome.h"
#include "transfer/transferqueue.h"
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

QCoro::Task<QString> accessTokenFor(QPointer<AppModel> model, bool forceRefresh,
                                    std::stop_token stop)
{
    if (!model)
        throw Cancelled();
    auto asking = model->auth().accessToken(forceRefresh, std::move(stop));
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

QString AppModel::disconnectedAccountName()
{
    return u"Chưa kết nối"_s;
}

QString AppModel::disconnectedAccountEmail()
{
    return u"Google Drive"_s;
}

DriveClient &AppModel::drive()
{
    if (!m_drive) {
        QPointer<AppModel> self(this);
        m_drive = std::make_unique<DriveClient>(
            TarnwickNetwork::session(), [self](bool forceRefresh, std::stop_token stop) {
                return accessTokenFor(self, forceRefresh, std::move(stop));
            });
    }
    return *m_drive;
}

void AppModel::setConnectionError(std::optional<QString> error)
{
    publish(m_connectionError, std::move(error), &AppModel::connectionErrorChanged);
}

void AppModel::setConnected(bool connected)
{
    publish(m_connected, connected, &AppModel::connectedChanged);
}

void AppModel::resetAccount()
{
    publish(m_accountName, disconnectedAccountName(), &AppModel::accountNameChanged);
    publish(m_accountEmail, disconnectedAccountEmail(), &AppModel::accountEmailChanged);
    publish(m_quota, std::optional<DriveAccount::Quota>(), &AppModel::quotaChanged);
}

std::optional<qint64> AppModel::cloudFreeSpace() const
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

int AppModel::pendingTransferCount() const
{
    return int(m_queue->runningTransfers().size() + m_queue->queuedTransfers().size());
}

void AppModel::login()
{
    if (m_connecting)
        return;
    publish(m_connecting, true, &AppModel::connectingChanged);
    setConnectionError(std::nullopt);
    m_loginTask.emplace();
    detach(runLogin(m_loginTask->get_token()), {});
}

void AppModel::cancelLogin()
{
    if (m_loginTask)
        m_loginTask->request_stop();
    m_auth->cancelLogin();
}

QCoro::Task<> AppModel::runLogin(std::stop_token stop)
{
    QPointer<AppModel> self(this);
    auto signingIn = settle(m_auth->login(
        [self](const QUrl &url) {
            if (self)
                self->desktop().openUrl(url);
        },
        stop));
    const StepOutcome<void> signedIn = co_await signingIn;
    if (!self)
        co_return;

    if (signedIn.done()) {
        setConnected(m_auth->connected());
        setShowConnection(false);
        publish(m_location, DriveLocation::MyDrive, &AppModel::locationChanged);
        publish(m_crumbs, QList<Crumb>(), &AppModel::crumbsChanged);
        if (m_resumeAfterLogin) {
            m_resumeAfterLogin = false;
            resumeRestored();
        }
        co_await loadAccount();
        if (!self)
            co_return;
        co_await refreshCloud();
        if (!self)
            co_return;
    } else if (signedIn.failure) {
        setConnectionError(signedIn.failure);
    }
    publish(m_connecting, false, &AppModel::connectingChanged);
    m_loginTask.reset();
}

QCoro::Task<> AppModel::importConfiguration()
{
    QPointer<AppModel> self(this);
    Desktop::FilesRequest request;
    request.prompt = u"Nhập cấu hình"_s;
    request.multiple = false;
    request.mimeTypes = {u"application/json"_s};
    auto asking = m_desktop->chooseFiles(std::move(request));
    const QStringList picked = co_await asking;
    if (!self || picked.isEmpty())
        co_return;

    const QString path = picked.first();
    auto configuring = proceed(this, configureFrom(m_auth, path),
                               [this](QString failure) { setConnectionError(failure); });
    const auto configured = co_await configuring;
    if (!configured)
        co_return;
    publish(m_configured, m_auth->configured(), &AppModel::configuredChanged);
    publish(m_configurationName, QFileInfo(path).fileName(), &AppModel::configurationNameChanged);
    setConnectionError(std::nullopt);
}

QCoro::Task<> AppModel::disconnect()
{
    if (pendingTransferCount() != 0) {
        setError(u"Hãy hoàn tất hoặc hủy các tác vụ trước khi ngắt kết nối."_s);
        co_return;
    }
    auto signingOut =
        proceed(this, m_auth->disconnect(), [this](QString failure) { setError(failure); });
    const auto signedOut = co_await signingOut;
    if (!signedOut)
        co_return;
    setConnected(false);
    publish(m_cloudFiles, QList<DriveFile>(), &AppModel::cloudFilesChanged);
    publish(m_cloudSelection, QSet<QString>(), &AppModel::cloudSelectionChanged);
    publish(m_crumbs, QList<Crumb>(), &AppModel::crumbsChanged);
    resetAccount();
    m_listVersion = QUuid::createUuid();
    m_listingStop.request_stop();
    // The listing that owned `loading` can no longer end it.
    setLoading(false);
}

QCoro::Task<> AppModel::loadAccount()
{
    QPointer<AppModel> self(this);
    const QUuid generation = m_auth->generation();
    const DriveClient client = drive();
    auto fetching = settle(client.account(m_lifetime.source.get_token()));
    const StepOutcome<DriveAccount> fetched = co_await fetching;
    // An answer for a sign-in that has ended (or been replaced) says nothing about this one.
    if (fetched.cancelled() || !self || m_auth->generation() != generation)
        co_return;
    if (fetched.failure) {
        setError(fetched.failure);
        co_return;
    }
    if (!m_connected)
        co_return;
    const DriveAccount &account = *fetched.value;
    publish(m_accountName, account.user.displayName.value_or(u"Google Drive"_s),
            &AppModel::accountNameChanged);
    publish(m_accountEmail, account.user.emailAddress.value_or(u"Đã kết nối"_s),
            &AppModel::accountEmailChanged);
    publish(m_quota, account.storageQuota, &AppModel::quotaChanged);
}

} // namespace Tarnwick
