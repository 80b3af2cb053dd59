#include "appmodel.h"

#include "desktop.h"

#include <QPointer>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace Tarnwick {

AppModel::AppModel(Desktop *desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
    Q_ASSERT(desktop);
    const QByteArray stored = QSettings().value(sortLocalKey).toByteArray();
    m_localSort = SortOption::fromJsonBytes(stored).value_or(SortOption{});
    m_localPool.setMaxThreadCount(2);
}

AppModel::~AppModel() = default;

QCoro::Task<> AppModel::initialize()
{
    if (m_initialized)
        co_return;
    m_initialized = true;
    QPointer<AppModel> self(this);

    const QString folder = QSettings().value(localFolderKey).toString();
    if (!folder.isEmpty())
        co_await navigateLocal(folder);
    if (!self)
        co_return;
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
