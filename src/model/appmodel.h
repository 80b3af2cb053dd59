#pragma once

#include "localfile.h"
#include "sortoption.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <optional>

namespace Tarnwick {

class Desktop;

// The one observable application object behind the window. Every view reads its published
// state (each member announces its changes with its own signal) and every user action is a call
// on it. It lives on the main thread; work that waits (dialogs, disk) returns a task that ends
// when the work is done, which callers may await or drop.
//
// The state is split by slice: appmodel.cpp holds what the slices share (notices, start-up),
// appmodel_local.cpp the local pane.
class AppModel final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppModel)

public:
    // desktop is not owned and must outlive the model.
    explicit AppModel(Desktop *desktop, QObject *parent = nullptr);
    ~AppModel() override;

    Desktop &desktop() const { return *m_desktop; }

    // The start-up sequence, run once by the application shell: reopens the folder stored under
    // "local-folder". Later runs do nothing.
    QCoro::Task<> initialize();

    // --- Shared notices and presentation flags ---

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

    // --- Local pane ---

    // The folder shown (an absolute path); missing until a folder has been listed once.
    const std::optional<QString> &localURL() const { return m_localURL; }
    // The entries of localURL in listing order: folders first, then by name.
    const QList<LocalFile> &localFiles() const { return m_localFiles; }
    // Selected entries by path.
    const QSet<QString> &localSelection() const { return m_localSelection; }
    void setLocalSelection(QSet<QString> selection);
    // The pane's filter text, used as typed.
    const QString &localSearch() const { return m_localSearch; }
    void setLocalSearch(QString search);
    // How the visible list is ordered; every change is stored under "sort-local".
    const SortOption &localSort() const { return m_localSort; }
    void setLocalSort(SortOption sort);

    // The entries of localFiles that pass the search, ordered by localSort. Computed on every
    // call.
    QList<LocalFile> visibleLocal() const;
    // The same computation on any list; safe to run on any thread.
    static QList<LocalFile> filterAndSortLocal(const QList<LocalFile> &files, const QString &search,
                                               const SortOption &sort);
    // Total size of the listed entries whose path is selected.
    qint64 localSelectedBytes() const;

    // Lists url off the main thread and makes it the shown folder; on failure the pane keeps
    // its state and error tells why. A result is dropped when a later listing has started.
    QCoro::Task<> navigateLocal(QString url);
    // navigateLocal unless a throttled refresh ran less than 2 seconds ago (then nothing).
    QCoro::Task<> navigateLocalThrottled(QString url);
    // Lets the user pick a folder, then lists it.
    QCoro::Task<> chooseLocal();
    // Moves the entries to the trash one by one, then re-lists the shown folder.
    QCoro::Task<> trashLocalFiles(QList<LocalFile> files);

    // Settings keys.
    static const QString localFolderKey;
    static const QString sortLocalKey;

signals:
    void errorChanged();
    void toastMessageChanged();
    void showConnectionChanged();
    void showTransfersChanged();

    void localURLChanged();
    void localFilesChanged();
    void localSelectionChanged();
    void localSearchChanged();
    void localSortChanged();

private:
    Desktop *m_desktop; // Not owned.
    bool m_initialized = false;

    std::optional<QString> m_error;
    std::optional<QString> m_toastMessage;
    bool m_showConnection = false;
    bool m_showTransfers = false;

    std::optional<QString> m_localURL;
    QList<LocalFile> m_localFiles;
    QSet<QString> m_localSelection;
    QString m_localSearch;
    SortOption m_localSort;
    std::optional<QDateTime> m_lastLocalRefresh; // missing: the distant past
    quint64 m_localListing = 0;                  // renewed by every navigateLocal
    // Listings get their own threads so that long scans elsewhere never delay them.
    QThreadPool m_localPool;
};

} // namespace Tarnwick
