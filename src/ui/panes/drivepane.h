#pragma once

#include "drive/drivefile.h"

#include <QCoroTask>
#include <QFrame>
#include <QPointer>

#include <stop_token>

class QHBoxLayout;
class QLabel;
class QMenu;
class QProgressBar;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace Tarnwick {

class DriveConnection;
class DriveBrowser;
class DriveFileTableModel;
class DriveThumbnailCache;
class EmptyStateView;
class LocalFileDelegate;
class LocalFileView;
class PaneHead;
class SearchField;
class Sharing;
class SortMenuButton;

// The right pane: one folder of Google Drive. It renders the Drive pane's slice (area, crumbs,
// items, selection, search, sort, loading and its error) and turns every action into a call on
// it: entering folders, the breadcrumbs, refreshing, sharing, and trashing or deleting after a
// confirmation. Names for new folders and renames are asked by the window (nameRequested).
class DrivePane final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DrivePane)

public:
    // The pane shows cloud; it reads the sign-in and the quota from connection and opens the
    // share sheet through sharing. thumbnails is not owned; nullptr means the shared cache.
    DrivePane(DriveBrowser *cloud, DriveConnection *connection, Sharing *sharing,
              QWidget *parent = nullptr, DriveThumbnailCache *thumbnails = nullptr);
    ~DrivePane() override;

    // The context menu for the current selection (built fresh each time).
    QMenu *createContextMenu(QWidget *parent);
    // Ask before trashing / deleting for good, then act on these very items.
    QCoro::Task<> confirmTrash(QList<DriveFile> files);
    QCoro::Task<> confirmPermanentDelete(QList<DriveFile> files);
    // The listed items whose ID is selected, in listing order.
    QList<DriveFile> listedSelection() const;
    // Exactly one downloadable file or folder is selected.
    bool canDownload() const;
    // The pane shows the root of the shared drives.
    bool atSharedDrivesRoot() const;

    PaneHead *head() const { return m_head; }
    QStackedWidget *pages() const { return m_pages; }
    EmptyStateView *notConnectedView() const { return m_notConnected; }
    EmptyStateView *loadErrorView() const { return m_loadError; }
    EmptyStateView *nothingView() const { return m_nothing; }
    QWidget *listPage() const { return m_listPage; }
    LocalFileView *view() const { return m_view; }
    DriveFileTableModel *tableModel() const { return m_rows; }
    SearchField *searchField() const { return m_search; }
    SortMenuButton *sortButton() const { return m_sort; }
    QToolButton *refreshButton() const { return m_refresh; }
    QToolButton *backButton() const { return m_back; }
    QProgressBar *progress() const { return m_progress; }
    QWidget *breadcrumbs() const { return m_crumbBar; }
    QLabel *countLabel() const { return m_count; }
    QLabel *freeSpaceLabel() const { return m_free; }

signals:
    // The user asked to connect a Google account.
    void connectRequested();
    // The user asked to rename the item.
    void renameRequested(const Tarnwick::DriveFile &file);
    // "Tải xuống…" for the item.
    void downloadRequested(const Tarnwick::DriveFile &file);

private:
    void scheduleRows();
    void refreshRows();
    void applySelectionToView();
    void takeSelectionFromView();
    void updateHeader();
    void updateBreadcrumbs();
    void updatePage();
    void updateFooter();

    void primaryAction();
    // F2: the rename sheet for the one selected item, when it may be renamed.
    void renameSelection();
    // Alt+Up: the folder above the one shown.
    void goToParent();
    void askToTrashSelection();
    void showContextMenu(const QPoint &position);

    bool signedIn() const;

    QPointer<DriveBrowser> m_cloud;
    QPointer<DriveConnection> m_connection;
    QPointer<Sharing> m_sharing;
    PaneHead *m_head;
    QToolButton *m_refresh;
    QProgressBar *m_progress;
    QToolButton *m_back;
    QWidget *m_crumbBar;
    QHBoxLayout *m_crumbLayout;
    SearchField *m_search;
    SortMenuButton *m_sort;
    QStackedWidget *m_pages;
    EmptyStateView *m_notConnected;
    EmptyStateView *m_loadError;
    EmptyStateView *m_nothing;
    QWidget *m_listPage;
    DriveFileTableModel *m_rows;
    LocalFileView *m_view;
    LocalFileDelegate *m_delegate;
    QLabel *m_count;
    QLabel *m_free;
    QTimer *m_rowsTimer;
    bool m_syncingSelection = false;
    std::stop_source m_stop;
};

} // namespace Tarnwick
