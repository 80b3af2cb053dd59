#pragma once

#include "updates/availableupdate.h"

#include <QObject>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <optional>

namespace Tarnwick {

class Desktop;

// The update slice of the window: the daily check and the notice it leads to, which the user
// opens, closes for this run, or skips for good. Main thread only.
class UpdateNotice final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateNotice)

public:
    // desktop is not owned and outlives the notice.
    explicit UpdateNotice(Desktop &desktop, QObject *parent = nullptr);
    // Ends the checks.
    ~UpdateNotice() override;

    // A newer version found by the daily check.
    const std::optional<AvailableUpdate> &availableUpdate() const { return m_availableUpdate; }
    // The user opened or closed the notice in this run.
    bool updateDismissed() const { return m_updateDismissed; }
    void setUpdateDismissed(bool dismissed);
    // Starts the check that runs now and then every 24 hours for the notice's life (once).
    void startUpdateChecks();
    // Opens the offered update's download page.
    void openUpdateDownload();
    // Skips the offered version for good and hides the notice.
    void skipUpdate();

signals:
    void availableUpdateChanged();
    void updateDismissedChanged();

private:
    void setAvailableUpdate(std::optional<AvailableUpdate> update);

    Desktop &m_desktop;
    std::optional<AvailableUpdate> m_availableUpdate;
    bool m_updateDismissed = false;
    bool m_started = false;
    std::stop_source m_lifetime;
};

} // namespace Tarnwick
