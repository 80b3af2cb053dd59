#pragma once

#include "browse/localfile.h"
#include "records/sortoption.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <optional>

namespace Tarnwick {

class Desktop;

// The local pane's slice: the folder shown, its entries, the selection, the search and the sort,
// and what the pane does with them. Failures go out as failed() and successes as notice(), which
// the model shows as its alert and its toast. Main thread only; listings run on threads of the
// slice's own.
class LocalBrowser final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalBrowser)

public:
    // desktop is not owned and outlives the slice. The sort comes back from "sort-local".
    explicit LocalBrowser(Desktop &desktop, QObject *parent = nullptr);
    ~LocalBrowser() override;

    Desktop &desktop() const { return m_desktop; }

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
    // The selected entries that are folders, or that are files, in list order.
    QStringList selectedLocalEntries(bool folders) const;

    // Lists url off the main thread and makes it the shown folder (stored under "local-folder");
    // on failure the pane keeps its state and failed() tells why. A result is dropped when a
    // later listing has started.
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
    void localURLChanged();
    void localFilesChanged();
    void localSelectionChanged();
    void localSearchChanged();
    void localSortChanged();
    // A short success notice (the window's toast).
    void notice(const QString &text);
    // A failure for the window's alert.
    void failed(const QString &message);

private:
    Desktop &m_desktop;
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
