#include "updates/updatenotice.h"

#include "async/async.h"
#include "desktop.h"
#include "updates/updatechecker.h"

#include <QPointer>
#include <QSettings>

namespace Tarnwick {

namespace {

// Checks now and then a day after each check ends, until the notice goes (its stop).
QCoro::Task<> checkForUpdates(QPointer<UpdateNotice> notice,
                              std::function<void(AvailableUpdate)> publish, std::stop_token stop)
{
    while (!stop.stop_requested()) {
        auto fetching = UpdateChecker::fetch(stop);
        const std::optional<AvailableUpdate> found = co_await fetching;
        if (!notice)
            co_return;
        if (found)
            publish(*found);
        try {
            auto sleeping = sleepFor(UpdateChecker::checkInterval, stop);
            co_await sleeping;
        } catch (const Cancelled &) {
        }
    }
}

} // namespace

UpdateNotice::UpdateNotice(Desktop &desktop, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
{
}

UpdateNotice::~UpdateNotice()
{
    m_lifetime.request_stop();
}

void UpdateNotice::setAvailableUpdate(std::optional<AvailableUpdate> update)
{
    if (m_availableUpdate == update)
        return;
    m_availableUpdate = std::move(update);
    emit availableUpdateChanged();
}

void UpdateNotice::setUpdateDismissed(bool dismissed)
{
    if (m_updateDismissed == dismissed)
        return;
    m_updateDismissed = dismissed;
    emit updateDismissedChanged();
}

void UpdateNotice::startUpdateChecks()
{
    if (m_started)
        return;
    m_started = true;
    QPointer<UpdateNotice> self(this);
    detach(checkForUpdates(
               self,
               [self](AvailableUpdate update) {
                   if (self)
                       self->setAvailableUpdate(std::move(update));
               },
               m_lifetime.get_token()),
           {});
}

void UpdateNotice::openUpdateDownload()
{
    if (!m_availableUpdate)
        return;
    m_desktop.openUrl(m_availableUpdate->url);
    setUpdateDismissed(true);
}

void UpdateNotice::skipUpdate()
{
    if (!m_availableUpdate)
        return;
    QSettings().setValue(UpdateChecker::skippedVersionKey(), m_availableUpdate->version);
    setAvailableUpdate(std::nullopt);
}

} // namespace Tarnwick
