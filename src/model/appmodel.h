#pragma once

#include "auth/keychainstore.h"

#include <QCoroTask>
#include <QObject>
#include <QString>

#include <optional>

namespace Tarnwick {

class DriveConnection;
class Desktop;
class DriveBrowser;
class LocalBrowser;
class Sharing;
class Transfers;
class UpdateNotice;

// The application object behind the window: the owner of its slices and of what they share. Each
// slice is an observable object of its own (every member announces its changes with its own
// signal) that a view reads and calls: local() the local pane, cloud() the Drive pane,
// connection() the sign-in and the account, sharing() the share sheet, transfers() the user's
// operations on the engine's queue (tarnwick_engine), updates() the update checks. The model
// keeps the alert, the toast and which screens show, and wires what one slice's change means for
// another (a finished transfer lists both panes again, a sign-out empties the Drive pane).
//
// It lives on the main thread; work that waits (dialogs, disk) returns a task that ends when the
// work is done, which callers may await or drop.
class AppModel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppModel)

public:
    // desktop is not owned and must outlive the model.
    explicit AppModel(Desktop *desktop, QObject *parent = nullptr);
    // The sign-in keeps its tokens and developer configuration under keychain's service (tests
    // pass one of their own).
    AppModel(Desktop *desktop, KeychainStore keychain, QObject *parent = nullptr);
    ~AppModel() override;

    Desktop &desktop() const { return *m_desktop; }

    LocalBrowser &local() const { return *m_local; }
    DriveBrowser &cloud() const { return *m_cloud; }
    DriveConnection &connection() const { return *m_connection; }
    Sharing &sharing() const { return *m_sharing; }
    Transfers &transfers() const { return *m_transfers; }
    UpdateNotice &updates() const { return *m_updates; }

    // The start-up sequence, run once by the application shell: restores the sign-in and mirrors
    // its flags (a failure goes to error), reopens the folder stored under "local-folder", starts
    // the daily update check without waiting for it, restores the saved queue, and when connected
    // loads the account and lists the Drive pane. Later runs do nothing.
    QCoro::Task<> initialize();
    bool initialized() const { return m_initialized; }

    // The text of the window's error alert; missing when there is none.
    const std::optional<QString> &error() const { return m_error; }
    void setError(std::optional<QString> error);
    // A short success notice the window shows and dismisses.
    const std::optional<QString> &toastMessage() const { return m_toastMessage; }
    void setToastMessage(std::optional<QString> message);
    // The connection screen is shown.
    bool showConnection() const { return m_showConnection; }
    void setShowConnection(bool show);
    // The transfer queue panel is shown.
    bool showTransfers() const { return m_showTransfers; }
    void setShowTransfers(bool show);

signals:
    void errorChanged();
    void toastMessageChanged();
    void showConnectionChanged();
    void showTransfersChanged();

private:
    // Sends a slice's failures to the alert and its notices to the toast.
    template<typename Slice> void reportFrom(Slice *slice);
    void wireSlices();
    // After the last run: both panes and the quota, once.
    QCoro::Task<> refreshAfterTransfers();

    Desktop *m_desktop; // Not owned.
    bool m_initialized = false;

    std::optional<QString> m_error;
    std::optional<QString> m_toastMessage;
    bool m_showConnection = false;
    bool m_showTransfers = false;

    // Children; the transfers go first (their runs use the Drive client and the desktop).
    DriveConnection *m_connection;
    LocalBrowser *m_local;
    DriveBrowser *m_cloud;
    Sharing *m_sharing;
    Transfers *m_transfers;
    UpdateNotice *m_updates;
};

} // namespace Tarnwick
