#include "appmodel.h"

#include "desktop.h"
#include "driveclient.h"
#include "errors.h"
#include "googleauth.h"
#include "tarnwicknetwork.h"

#include <QPointer>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace Tarnwick {

AppModel::AppModel(Desktop *desktop, QObject *parent)
    : AppModel(desktop, KeychainStore(), parent)
{
}

AppModel::AppModel(Desktop *desktop, KeychainStore keychain, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_auth(new GoogleAuth(TarnwickNetwork::session(), std::move(keychain), this))
    , m_accountName(disconnectedAccountName())
    , m_accountEmail(disconnectedAccountEmail())
{
    Q_ASSERT(desktop);
    const QByteArray stored = QSettings().value(sortLocalKey).toByteArray();
    m_localSort = SortOption::fromJsonBytes(stored).value_or(SortOption{});
    m_localPool.setMaxThreadCount(2);
    const QByteArray storedCloud = QSettings().value(sortCloudKey).toByteArray();
    m_cloudSort = SortOption::fromJsonBytes(storedCloud).value_or(SortOption{});
}

AppModel::~AppModel() = default;

QCoro::Task<> AppModel::initialize()
{
    if (m_initialized)
        co_return;
    m_initialized = true;
    QPointer<AppModel> self(this);

    std::optional<QString> failure;
    try {
        auto restoring = m_auth->restore();
        co_await restoring;
    } catch (const Cancelled &) {
        co_return;
    } catch (const std::exception &e) {
        failure = describe(e);
    }
    if (!self)
        co_return;
    if (failure)
        setError(failure);
    // Mirrored after a failure too: a damaged tokens item leaves the configuration usable.
    publish(m_configured, m_auth->configured(), &AppModel::configuredChanged);
    setConnected(m_auth->connected());
    publish(m_managedGoogle, m_auth->usesBundledConfiguration(), &AppModel::managedGoogleChanged);

    const QString folder = QSettings().value(localFolderKey).toString();
    if (!folder.isEmpty())
        co_await navigateLocal(folder);
    if (!self)
        co_return;

    startUpdateChecks();
    // The saved transfer queue is restored here once the queue exists.

    if (!m_connected)
        co_return;
    co_await loadAccount();
    if (!self)
        co_return;
    co_await refreshCloud();
}

void AppModel::setError(std::optional<QString> error)
{
    if (m_error == error)
        return;
    m_error = std::move(error);
    emit errorChanged();
}

void AppModel::setToastMessage(std::optional<QString> message)
{
    if (m_toastMessage == message)
        return;
    m_toastMessage = std::move(message);
    emit toastMessageChanged();
}

void AppModel::setShowConnection(bool show)
{
    if (m_showConnection == show)
        return;
    m_showConnection = show;
    emit showConnectionChanged();
}

void AppModel::setShowTransfers(bool show)
{
    if (m_showTransfers == show)
        return;
    m_showTransfers = show;
    emit showTransfersChanged();
}

} // namespace Tarnwick
