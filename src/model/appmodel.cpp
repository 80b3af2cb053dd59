#include "appmodel.h"

#include "async/async.h"
#include "browse/drivebrowser.h"
#include "browse/localbrowser.h"
#include "browse/sharing.h"
#include "connection/driveconnection.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "publish.h"
#include "transfer/transferqueue.h"
#include "transfers/transfers.h"
#include "updates/updatenotice.h"

#include <QPointer>
#include <QSettings>

namespace Tarnwick {

AppModel::AppModel(Desktop *desktop, QObject *parent)
    : AppModel(desktop, KeychainStore(), parent)
{
}

AppModel::AppModel(Desktop *desktop, KeychainStore keychain, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_connection(new DriveConnection(*desktop, std::move(keychain), this))
    , m_local(new LocalBrowser(*desktop, this))
    , m_cloud(new DriveBrowser(
          *desktop, m_connection->drive(), [c = m_connection] { return c->connected(); },
          [c = m_connection] { return c->refreshAccount(); }, this))
    , m_sharing(new Sharing(*desktop, m_connection->drive(), this))
    , m_transfers(new Transfers(
          *desktop, m_connection->drive(), [c = m_connection] { return c->connected(); }, this))
    , m_updates(new UpdateNotice(*desktop, this))
{
    Q_ASSERT(desktop);
    wireSlices();
}

AppModel::~AppModel()
{
    // The queue's runs and the Drive requests use the connection's client and the desktop: stop
    // them first.
    delete m_transfers;
    delete m_sharing;
    delete m_cloud;
}

template<typename Slice> void AppModel::reportFrom(Slice *slice)
{
    connect(slice, &Slice::failed, this, [this](const QString &message) { setError(message); });
    if constexpr (requires { &Slice::notice; })
        connect(slice, &Slice::notice, this, [this](const QString &text) { setToastMessage(text); });
}

void AppModel::wireSlices()
{
    reportFrom(m_connection);
    reportFrom(m_local);
    reportFrom(m_cloud);
    reportFrom(m_sharing);
    reportFrom(m_transfers);

    DriveConnection *connection = m_connection;
    LocalBrowser *local = m_local;
    DriveBrowser *cloud = m_cloud;
    Transfers *transfers = m_transfers;

    connection->setHooks({
        .transfersPending = [transfers] { return transfers->pendingTransferCount() != 0; },
        .afterSignIn = [cloud] { return cloud->refreshCloud(); },
    });
    connect(connection, &DriveConnection::signedIn, this, [this] {
        setShowConnection(false);
        m_cloud->showMyDriveRoot();
        m_transfers->signedIn();
    });
    connect(connection, &DriveConnection::signedOut, cloud, &DriveBrowser::signedOut);

    transfers->setPanes({
        .localFolder = [local] { return local->localURL(); },
        .localSelection = [local](bool folders) { return local->selectedLocalEntries(folders); },
        .showLocalFolder = [local](QString folder) { return local->navigateLocal(std::move(folder)); },
        .uploadTarget = [cloud]() -> std::optional<Transfers::UploadTarget> {
            if (!cloud->canUpload())
                return std::nullopt;
            return Transfers::UploadTarget{cloud->cloudParent(), cloud->currentCloudPath()};
        },
        .cloudPath = [cloud] { return cloud->currentCloudPath(); },
        .cloudSelection = [cloud] { return cloud->selectedCloudFiles(); },
        .setBusy = [cloud](bool busy) { cloud->setLoading(busy); },
    });
    connect(transfers, &Transfers::showRequested, this, [this] { setShowTransfers(true); });
    connect(transfers, &Transfers::signInRequested, this, [this] { setShowConnection(true); });

    TransferQueue *queue = &transfers->queue();
    connect(queue, &TransferQueue::runEnded, this, [this](const QUuid &, bool download) {
        detach(m_cloud->refreshCloudThrottled(), {});
        if (download && m_local->localURL())
            detach(m_local->navigateLocalThrottled(*m_local->localURL()), {});
    });
    connect(queue, &TransferQueue::allRunsEnded, this,
            [this] { detach(refreshAfterTransfers(), {}); });
}

QCoro::Task<> AppModel::initialize()
{
    if (m_initialized)
        co_return;
    m_initialized = true;
    QPointer<AppModel> self(this);
    // The keyring and the local folder may take long: a quit meanwhile must not empty the
    // saved queue.
    m_transfers->queue().holdUnrestored();

    auto restoring = m_connection->restore();
    const bool restored = co_await restoring;
    if (!restored || !self)
        co_return;

    const QString folder = QSettings().value(LocalBrowser::localFolderKey).toString();
    if (!folder.isEmpty())
        co_await m_local->navigateLocal(folder);
    if (!self)
        co_return;

    m_updates->startUpdateChecks();
    m_transfers->restoreSavedQueue();

    if (!m_connection->connected())
        co_return;
    co_await m_connection->loadAccount();
    if (!self)
        co_return;
    co_await m_cloud->refreshCloud();
}

QCoro::Task<> AppModel::refreshAfterTransfers()
{
    QPointer<AppModel> self(this);
    co_await m_cloud->refreshCloud();
    if (!self)
        co_return;
    if (m_local->localURL())
        detach(m_local->navigateLocal(*m_local->localURL()), {});
    if (m_connection->connected())
        detach(m_connection->loadAccount(), {});
}

void AppModel::setError(std::optional<QString> error)
{
    publish(this, m_error, std::move(error), &AppModel::errorChanged);
}

void AppModel::setToastMessage(std::optional<QString> message)
{
    // The same notice again is news again: the window restarts its timer.
    if (message && message == m_toastMessage) {
        emit toastMessageChanged();
        return;
    }
    publish(this, m_toastMessage, std::move(message), &AppModel::toastMessageChanged);
}

void AppModel::setShowConnection(bool show)
{
    publish(this, m_showConnection, show, &AppModel::showConnectionChanged);
}

void AppModel::setShowTransfers(bool show)
{
    publish(this, m_showTransfers, show, &AppModel::showTransfersChanged);
}

} // namespace Tarnwick
