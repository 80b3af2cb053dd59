#include "appmodel.h"

#include "async/async.h"
#include "auth/googleauth.h"
#include "browse/sharing.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "net/tarnwicknetwork.h"
#include "stepoutcome.h"
#include "transfer/transferqueue.h"
#include "updates/updatenotice.h"

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
    , m_sharing(new Sharing(*desktop, drive(), this))
    , m_queue(new TransferQueue(
          drive(), *desktop, [this] { return m_connected; }, this))
    , m_updates(new UpdateNotice(*desktop, this))
{
    connect(m_sharing, &Sharing::notice, this,
            [this](const QString &text) { setToastMessage(text); });
    connect(m_sharing, &Sharing::failed, this,
            [this](const QString &message) { setError(message); });
    connect(m_queue, &TransferQueue::transfersChanged, this, &AppModel::transfersChanged);
    connect(m_queue, &TransferQueue::runEnded, this, [this](const QUuid &, bool download) {
        detach(refreshCloudThrottled(), {});
        if (download && m_localURL)
            detach(navigateLocalThrottled(*m_localURL), {});
    });
    connect(m_queue, &TransferQueue::allRunsEnded, this,
            [this] { detach(refreshAfterTransfers(), {}); });
    connect(m_queue, &TransferQueue::signInNeeded, this, [this] {
        m_resumeAfterLogin = true;
        setShowConnection(true);
    });
    connect(m_queue, &TransferQueue::writesHeld, this,
            [this](const QString &message) { setError(message); });
    m_autoResumeTransfers = QSettings().value(autoResumeKey, false).toBool();
    Q_ASSERT(desktop);
    const QByteArray stored = QSettings().value(sortLocalKey).toByteArray();
    m_localSort = SortOption::fromJsonBytes(stored).value_or(SortOption{});
    m_localPool.setMaxThreadCount(2);
    const QByteArray storedCloud = QSettings().value(sortCloudKey).toByteArray();
    m_cloudSort = SortOption::fromJsonBytes(storedCloud).value_or(SortOption{});
}

AppModel::~AppModel()
{
    // The queue's runs and sharing's requests use the Drive client and the desktop: stop them
    // first.
    delete m_queue;
    delete m_sharing;
}

QCoro::Task<> AppModel::initialize()
{
    if (m_initialized)
        co_return;
    m_initialized = true;
    QPointer<AppModel> self(this);
    // The keyring and the local folder may take long: a quit meanwhile must not empty the
    // saved queue.
    m_queue->holdUnrestored();

    auto restoring = settle(m_auth->restore());
    const StepOutcome<void> restored = co_await restoring;
    if (restored.cancelled() || !self)
        co_return;
    if (restored.failure)
        setError(restored.failure);
    // Mirrored after a failure too: a damaged tokens item leaves the configuration usable.
    publish(m_configured, m_auth->configured(), &AppModel::configuredChanged);
    setConnected(m_auth->connected());
    publish(m_managedGoogle, m_auth->usesBundledConfiguration(), &AppModel::managedGoogleChanged);

    const QString folder = QSettings().value(localFolderKey).toString();
    if (!folder.isEmpty())
        co_await navigateLocal(folder);
    if (!self)
        co_return;

    m_updates->startUpdateChecks();
    restoreSavedQueue();

    if (!m_connected)
        co_return;
    co_await loadAccount();
    if (!self)
        co_return;
    co_await refreshCloud();
}

QCoro::Task<> AppModel::refreshAfterTransfers()
{
    QPointer<AppModel> self(this);
    co_await refreshCloud();
    if (!self)
        co_return;
    if (m_localURL)
        detach(navigateLocal(*m_localURL), {});
    if (m_connected)
        detach(loadAccount(), {});
}

void AppModel::setError(std::optional<QString> error)
{
    publish(m_error, std::move(error), &AppModel::errorChanged);
}

void AppModel::setToastMessage(std::optional<QString> message)
{
    // The same notice again is news again: the window restarts its timer.
    if (message && message == m_toastMessage) {
        emit toastMessageChanged();
        return;
    }
    publish(m_toastMessage, std::move(message), &AppModel::toastMessageChanged);
}

void AppModel::setShowConnection(bool show)
{
    publish(m_showConnection, show, &AppModel::showConnectionChanged);
}

void AppModel::setShowTransfers(bool show)
{
    publish(m_showTransfers, show, &AppModel::showTransfersChanged);
}

} // namespace Tarnwick
