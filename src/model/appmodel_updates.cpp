#include "appmodel.h"

#include "async/async.h"
#include "desktop.h"
#include "updates/updatechecker.h"

#include <QPointer>
#include <QSettings>

namespace Tarnwick {

namespace {

// Checks now and then a day after each check ends, until the model goes (its stop).
QCoro::Task<> checkForUpdates(QPointer<AppModel> model,
                              std::function<void(AvailableUpdate)> publish, std::stop_token stop)
{
    while (!stop.stop_requested()) {
        auto fetching = UpdateChecker::fetch(stop);
        const std::optional<AvailableUpdate> found = co_await fetching;
        if (!model)
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

void AppModel::setUpdateDismissed(bool dismissed)
{
    publish(m_updateDismissed, dismissed, &AppModel::updateDismissedChanged);
}

void AppModel::startUpdateChecks()
{
    if (m_updateChecksStarted)
        return;
    m_updateChecksStarted = true;
    QPointer<AppModel> self(this);
    detach(checkForUpdates(
               self,
               [self](AvailableUpdate update) {
                   if (self)
                       self->publish(self->m_availableUpdate,
                                     std::optional<AvailableUpdate>(std::move(update)),
                                     &AppModel::availableUpdateChanged);
               },
               m_lifetime.source.get_token()),
           {});
}

void AppModel::openUpdateDownload()
{
    if (!m_availableUpdate)
        return;
    m_desktop->openUrl(m_availableUpdate->url);
    setUpdateDismissed(true);
}

void AppModel::skipUpdate()
{
    if (!m_availableUpdate)
        return;
    QSettings().setValue(UpdateChecker::skippedVersionKey(), m_availableUpdate->version);
    publish(m_availableUpdate, std::optional<AvailableUpdate>(), &AppModel::availableUpdateChanged);
}

} // namespace Tarnwick
