#pragma once

#include "transfer/transfer.h"

#include <QAbstractItemModel>
#include <QPointer>

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
    // The row of the transfer with id; invalid when it is not listed.
    QModelIndex indexOf(const QUuid &id) const;

    // Announces the time column of every working row (the timer's tick).
    void refreshTimes();
    QTimer *timeTimer() const { return m_timer; }

private:
    struct Node
    {
        Transfer transfer;
        QList<FileInFlight> shown; // the sub-rows announced so far
        int row = 0;
    };

    static QList<FileInFlight> visibleWorkers(const Transfer &t);
    void insertRow(int row);
    void removeRow(int row);
    void changeRow(int row);
    void resync();
    // One node per transfer of the queue, appended to m_nodes.
    void loadNodes();
    void renumberFrom(int row);
    void updateTimer();
    Node *node(const QModelIndex &index) const;

    QPointer<TransferQueue> m_queue;
    std::vector<std::unique_ptr<Node>> m_nodes;
    int m_working = 0;
    QTimer *m_timer;
};

} // namespace Tarnwick
