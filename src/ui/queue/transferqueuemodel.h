#pragma once

#include "queue/rowlook.h"
#include "transfer/transfer.h"

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QPointer>

#include <functional>

#include <memory>
#include <vector>

class QTimer;

namespace Tarnwick {

class TransferQueue;

// The queue panel's rows: one per transfer, and below a working transfer one child row per file
// in flight. The model keeps its own copy of what it has announced and follows the queue's row
// signals one row at a time: a change is a dataChanged of that row and its children, workers
// coming and going are child inserts and removals, and nothing ever resets the model on
// progress. While a transfer runs, a one-second timer announces its time column so the elapsed
// time moves.
//
// Progress comes hundreds of times a second; a person reads a row at most about ten times a
// second. So a changed row is only marked, and once per frame the marked rows that have not been
// announced for rowIntervalMs are copied and announced together; the progress of a row the view
// does not show stays marked, at no cost, until it comes into sight (its files coming and going
// are announced, as they change the table's height). A change of state (paused, done, failed…)
// is announced at once, since the row's buttons follow it.
class TransferQueueModel final : public QAbstractItemModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferQueueModel)

public:
    enum Column {
        DirectionColumn,
        SourceColumn,
        DestinationColumn,
        StatusColumn,
        SizeColumn,
        ProgressColumn,
        SpeedColumn,
        RemainingColumn,
        ButtonsColumn,
        ColumnCount
    };
    // The column's width in the panel.
    static int columnWidth(int column);

    // queue is not owned; the model follows it for as long as both live.
    explicit TransferQueueModel(TransferQueue *queue, QObject *parent = nullptr);
    ~TransferQueueModel() override;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The transfer of a row, or of a sub-row's parent; nullptr for an invalid index.
    const Transfer *transfer(const QModelIndex &index) const;
    // The file of a sub-row; nullptr for a transfer row.
    const FileInFlight *worker(const QModelIndex &index) const;
    // What a transfer row (also for a sub-row's parent) and a file row paint; nullptr for an
    // invalid index, and for a transfer row in workerLook().
    const TransferLook *transferLook(const QModelIndex &index) const;
    const WorkerLook *workerLook(const QModelIndex &index) const;
    // The row of the transfer with id; invalid when it is not listed.
    QModelIndex indexOf(const QUuid &id) const;

    // Announces the time column of every working row (the timer's tick).
    void refreshTimes();
    QTimer *timeTimer() const { return m_timer; }

    static constexpr int frameMs = 16;
    static constexpr int rowIntervalMs = 100;
    // Tells which top-level rows the view shows; without it every row counts as shown.
    void setShownRows(std::function<bool(int row)> shown);
    // The view scrolled or grew: rows that came into sight are brought up to date on the next
    // frame.
    void shownRowsChanged();
    // Announces every marked row now, shown or not (before a picture is taken, say).
    void flushPending();
    // Top-level rows announced since the model was made (each row once per announcement).
    qint64 rowUpdates() const { return m_rowUpdates; }

private:
    struct Node
    {
        Transfer transfer;
        QList<FileInFlight> shown; // the sub-rows announced so far
        TransferLook look;
        QList<WorkerLook> workerLooks; // one per entry of shown
        int row = 0;
        bool pending = false;  // the queue changed it since it was last announced
        qint64 announced = -1; // when it was last announced, on m_clock; -1 never
    };

    static QList<FileInFlight> visibleWorkers(const Transfer &t);
    void insertRow(int row);
    void removeRow(int row);
    void changeRow(int row);
    // Whether the node shows the files in flight that its transfer has now.
    bool sameFiles(const Node &n) const;
    // Copies the queue's transfer into the node and announces what changed.
    void announce(Node &n, const Transfer &now);
    // The frame's work: announces the marked rows that are due and shown; plans the next frame.
    void announcePending(bool all = false);
    void resync();
    // One node per transfer of the queue, appended to m_nodes.
    void loadNodes();
    void renumberFrom(int row);
    // A node showing t, its looks made.
    static std::unique_ptr<Node> makeNode(const Transfer &t);
    static void lookAgain(Node &n);
    void updateTimer();
    Node *node(const QModelIndex &index) const;
    // The node of a file row (its workerLooks run beside shown); nullptr for a transfer row.
    const Node *fileNode(const QModelIndex &index) const;

    QPointer<TransferQueue> m_queue;
    std::vector<std::unique_ptr<Node>> m_nodes;
    int m_working = 0;
    QTimer *m_timer;
    QTimer *m_frame;
    QElapsedTimer m_clock;
    std::function<bool(int)> m_shown;
    qint64 m_rowUpdates = 0;
};

} // namespace Tarnwick
