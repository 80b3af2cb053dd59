#pragma once

#include "browse/localfile.h"

#include <QCoroTask>
#include <QFrame>
#include <QPointer>

#include <functional>

#include <stop_token>

class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;
class QTimer;
class QToolButton;

namespace Tarnwick {

class LocalBrowser;
class EmptyStateView;
class LocalFileDelegate;
class LocalFileTableModel;
class LocalFileView;
class SearchField;
class SortMenuButton;

// The left pane: one folder of the local disk. It renders the local pane's slice (folder,
// entries, selection, search, sort) and turns every action into a call on it: opening folders,
// going up, choosing a folder, previewing, revealing and trashing after a confirmation.
//
// The visible rows are filtered and sorted off the main thread whenever the entries, the search
// or the sort change (several changes in one turn cost one pass), and replace the table's rows
// in one reset; a pass that a newer one overtook is dropped.
class LocalPane final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalPane)

public:
    // The pane shows local; canUpload tells whether the Drive pane shows a folder that takes
    // uploads (the menu's upload entry).
    LocalPane(LocalBrowser *local, std::function<bool()> canUpload, QWidget *parent = nullptr);
    ~LocalPane() override;

    // The context menu for the current selection (built fresh each time).
    QMenu *createContextMenu(QWidget *parent);
    // Asks before moving the entries to the trash, then trashes them.
    QCoro::Task<> confirmTrash(QList<LocalFile> files);
    // The listed entries whose path is selected, in listing order.
    QList<LocalFile> listedSelection() const;
    // True once the table shows the slice's current entries, search and sort.
    bool rowsCurrent() const;

    LocalFileView *view() const { return m_view; }
    LocalFileTableModel *tableModel() const { return m_rows; }
    SearchField *searchField() const { return m_search; }
    SortMenuButton *sortButton() const { return m_sort; }
    QToolButton *upButton() const { return m_up; }
    QPushButton *pathButton() const { return m_path; }
    QPushButton *changeFolderButton() const { return m_change; }
    EmptyStateView *firstUseView() const { return m_firstUse; }
    QLabel *countLabel() const { return m_count; }
    QLabel *freeSpaceLabel() const { return m_free; }

signals:
    // "Tải lên Google Drive" with the listed selected entries.
    void uploadRequested(const QStringList &paths);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void scheduleRows();
    QCoro::Task<> refreshRows();
    QCoro::Task<> refreshFreeSpace();
    void applySelectionToView();
    void takeSelectionFromView();
    void updateFolder();
    void updatePathText();
    void updateFooter();
    void updatePlaceholder();

    void goUp();
    void previewSelection();
    void primaryAction();
    void askToTrashSelection();
    void showContextMenu(const QPoint &position);

    QPointer<LocalBrowser> m_local;
    std::function<bool()> m_canUpload;

    LocalFileTableModel *m_rows;
    LocalFileView *m_view;
    LocalFileDelegate *m_delegate;
    SearchField *m_search;
    SortMenuButton *m_sort;
    QToolButton *m_up;
    QPushButton *m_path;
    QPushButton *m_change;
    QStackedWidget *m_body;
    EmptyStateView *m_firstUse;
    QWidget *m_listPage;
    QLabel *m_count;
    QLabel *m_free;

    QTimer *m_rowsTimer;
    quint64 m_rowsPass = 0;
    quint64 m_rowsShown = 0;
    quint64 m_freePass = 0;
    bool m_syncingSelection = false;
    std::stop_source m_stop;
};

} // namespace Tarnwick
