#include "queue/transferqueuemodel.h"

#include "queue/queuetexts.h"

#include "async/clock.h"
#include "records/diskspaceutilities.h"
#include "records/displaytext.h"
#include "transfer/transferqueue.h"

#include <QSize>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
constexpr int widths[TransferQueueModel::ColumnCount] = {75, 210, 180, 90, 120, 95, 70, 90, 40};
const char16_t *const titles[TransferQueueModel::ColumnCount] = {
    u"Thao tác", u"Nguồn",   u"Đích", u"Trạng thái", u"Dung lượng", u"Tiến độ",
    u"Tốc độ",   u"Còn lại", u""};
} // namespace

int TransferQueueModel::columnWidth(int column)
{
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

TransferQueueModel::TransferQueueModel(TransferQueue *queue, QObject *parent)
    : QAbstractItemModel(parent)
    , m_queue(queue)
    , m_timer(new QTimer(this))
    , m_frame(new QTimer(this))
{
    m_clock.start();
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &TransferQueueModel::refreshTimes);
    m_frame->setSingleShot(true);
    connect(m_frame, &QTimer::timeout, this, [this] { announcePending(); });
    if (queue) {
        connect(queue, &TransferQueue::transferInserted, this, &TransferQueueModel::insertRow);
        connect(queue, &TransferQueue::transferRemoved, this, &TransferQueueModel::removeRow);
        connect(queue, &TransferQueue::transferChanged, this, &TransferQueueModel::changeRow);
    }
    loadNodes();
    updateTimer();
}

TransferQueueModel::~TransferQueueModel() = default;

QList<FileInFlight> TransferQueueModel::visibleWorkers(const Transfer &t)
{
    // A paused or failed run keeps its last workers in the record; only a running one shows them.
    return t.state == TransferState::Working ? t.filesInFlight : QList<FileInFlight>();
}

TransferQueueModel::Node *TransferQueueModel::node(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    if (auto *parentNode = static_cast<Node *>(index.internalPointer()))
        return parentNode;
    return index.row() < int(m_nodes.size()) ? m_nodes[index.row()].get() : nullptr;
}

QModelIndex TransferQueueModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    if (!parent.isValid())
        return row < int(m_nodes.size()) ? createIndex(row, column, nullptr) : QModelIndex();
    if (parent.internalPointer())
        return {}; // sub-rows have no children
    Node *n = node(parent);
    if (!n || row >= n->shown.size())
        return {};
    return createIndex(row, column, n);
}

QModelIndex TransferQueueModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || !child.internalPointer())
        return {};
    const auto *n = static_cast<Node *>(child.internalPointer());
    return createIndex(n->row, 0, nullptr);
}

int TransferQueueModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return int(m_nodes.size());
    if (parent.column() != 0 || parent.internalPointer())
        return 0;
    const Node *n = node(parent);
    return n ? int(n->shown.size()) : 0;
}

int TransferQueueModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

const Transfer *TransferQueueModel::transfer(const QModelIndex &index) const
{
    const Node *n = node(index);
    return n ? &n->transfer : nullptr;
}

const TransferQueueModel::Node *TransferQueueModel::fileNode(const QModelIndex &index) const
{
    if (!index.isValid() || !index.internalPointer())
        return nullptr;
    const Node *n = node(index);
    return n && index.row() < n->shown.size() ? n : nullptr;
}

const FileInFlight *TransferQueueModel::worker(const QModelIndex &index) const
{
    const Node *n = fileNode(index);
    return n ? &n->shown[index.row()] : nullptr;
}

const TransferLook *TransferQueueModel::transferLook(const QModelIndex &index) const
{
    const Node *n = node(index);
    return n ? &n->look : nullptr;
}

const WorkerLook *TransferQueueModel::workerLook(const QModelIndex &index) const
{
    const Node *n = fileNode(index);
    return n ? &n->workerLooks[index.row()] : nullptr;
}

std::unique_ptr<TransferQueueModel::Node> TransferQueueModel::makeNode(const Transfer &t)
{
    auto n = std::make_unique<Node>();
    n->transfer = t;
    n->shown = visibleWorkers(t);
    lookAgain(*n);
    return n;
}

void TransferQueueModel::lookAgain(Node &n)
{
    n.look = TransferLook::of(n.transfer, Clock::current().now());
    n.workerLooks.clear();
    n.workerLooks.reserve(n.shown.size());
    for (const FileInFlight &w : std::as_const(n.shown))
        n.workerLooks.append(WorkerLook::of(w));
}

QModelIndex TransferQueueModel::indexOf(const QUuid &id) const
{
    for (const auto &n : m_nodes) {
        if (n->transfer.id == id)
            return createIndex(n->row, 0, nullptr);
    }
    return {};
}

QVariant TransferQueueModel::data(const QModelIndex &index, int role) const
{
    // The source cell's second line (why a transfer failed, or its current file), for screen
    // readers: the delegate paints it.
    if (role == Qt::AccessibleDescriptionRole) {
        const Transfer *t = index.column() == SourceColumn && !worker(index) ? transfer(index)
                                                                             : nullptr;
        return t ? QVariant(DisplayText::message(QueueTexts::subLine(*t).text)) : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    // Paths and details quote Drive names and a server's words: capped, controls escaped, and a
    // tooltip built from escaped text so that it never renders as markup.
    const auto outside = [role](const QString &text) -> QVariant {
        if (role == Qt::ToolTipRole)
            return text.isEmpty() ? QVariant()
                                  : QVariant(Qt::convertFromPlainText(
                                        DisplayText::message(text)));
        return DisplayText::message(text);
    };
    const Transfer *t = transfer(index);
    if (!t)
        return {};
    if (const FileInFlight *w = worker(index)) {
        switch (index.column()) {
        case DirectionColumn:
            return role == Qt::DisplayRole ? u"File"_s : QVariant();
        case SourceColumn:
            return role == Qt::DisplayRole ? outside(QueueTexts::workerNameText(*w))
                                           : outside(w->sourcePath);
        case DestinationColumn:
            return outside(w->destinationPath);
        case SizeColumn:
            return DiskSpaceUtilities::formatTransferSize(w->done, w->total);
        case ProgressColumn:
            return QueueTexts::workerProgressText(*w);
        case SpeedColumn:
            return QueueTexts::workerSpeedText(*w);
        case RemainingColumn:
            return QueueTexts::workerRemainingText(*w);
        default:
            return {};
        }
    }
    switch (index.column()) {
    case DirectionColumn:
        return role == Qt::DisplayRole ? u"Transfer"_s : QVariant();
    case SourceColumn:
        return outside(t->displaySource().path);
    case DestinationColumn:
        return outside(t->displayDestination().path);
    case StatusColumn:
        // The detail says why a transfer failed or what it is doing right now.
        return role == Qt::DisplayRole ? QueueTexts::status(*t).text : outside(t->detail);
    case SizeColumn:
        return QueueTexts::sizeText(*t);
    case ProgressColumn:
        return QueueTexts::progressText(*t);
    case SpeedColumn:
        return QueueTexts::speedText(*t);
    case RemainingColumn:
        if (role == Qt::ToolTipRole)
            return QueueTexts::elapsedText(*t, Clock::current().now());
        return QueueTexts::remainingText(*t);
    default:
        return {};
    }
}

QVariant TransferQueueModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromUtf16(titles[section]);
    if (role == Qt::SizeHintRole)
        return QSize(widths[section], 24);
    return {};
}

Qt::ItemFlags TransferQueueModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled;
    if (index.internalPointer())
        f |= Qt::ItemNeverHasChildren;
    return f;
}

void TransferQueueModel::renumberFrom(int row)
{
    for (int i = row; i < int(m_nodes.size()); ++i)
        m_nodes[i]->row = i;
}

void TransferQueueModel::insertRow(int row)
{
    if (!m_queue || row < 0 || row > int(m_nodes.size()) || row >= m_queue->transfers().size() ||
        m_nodes.size() + 1 != size_t(m_queue->transfers().size())) {
        resync();
        return;
    }
    std::unique_ptr<Node> n = makeNode(m_queue->transfers()[row]);
    beginInsertRows({}, row, row);
    m_nodes.insert(m_nodes.begin() + row, std::move(n));
    renumberFrom(row);
    m_working += m_nodes[row]->transfer.state == TransferState::Working ? 1 : 0;
    endInsertRows();
    updateTimer();
}

void TransferQueueModel::removeRow(int row)
{
    if (!m_queue || row < 0 || row >= int(m_nodes.size()) ||
        m_nodes.size() - 1 != size_t(m_queue->transfers().size())) {
        resync();
        return;
    }
    beginRemoveRows({}, row, row);
    m_working -= m_nodes[row]->transfer.state == TransferState::Working ? 1 : 0;
    m_nodes.erase(m_nodes.begin() + row);
    renumberFrom(row);
    endRemoveRows();
    updateTimer();
}

void TransferQueueModel::changeRow(int row)
{
    if (!m_queue || row < 0 || row >= int(m_nodes.size()) ||
        m_nodes.size() != size_t(m_queue->transfers().size()) ||
        m_queue->transfers()[row].id != m_nodes[row]->transfer.id) {
        resync();
        return;
    }
    Node &n = *m_nodes[row];
    const Transfer &now = m_queue->transfers()[row];
    // The row's buttons and state follow a command at once; progress waits for its frame.
    if (now.state != n.transfer.state) {
        announce(n, now);
        return;
    }
    n.pending = true;
    if (!m_frame->isActive())
        m_frame->start(frameMs);
}

void TransferQueueModel::setShownRows(std::function<bool(int row)> shown)
{
    m_shown = std::move(shown);
}

void TransferQueueModel::shownRowsChanged()
{
    if (!m_frame->isActive())
        m_frame->start(0);
}

void TransferQueueModel::flushPending()
{
    announcePending(true);
}

void TransferQueueModel::announcePending(bool all)
{
    if (!m_queue)
        return;
    const qint64 now = m_clock.elapsed();
    qint64 nextDue = -1;
    // Indexed: an announcement inserts and removes sub-rows, never top-level rows.
    for (size_t i = 0; i < m_nodes.size(); ++i) {
        Node &n = *m_nodes[i];
        if (!n.pending)
            continue;
        if (!all) {
            // Out of sight, progress waits; files coming and going change the table's height,
            // so they are announced all the same.
            if (m_shown && !m_shown(n.row) && sameFiles(n))
                continue;
            const qint64 due = n.announced < 0 ? now : n.announced + rowIntervalMs;
            if (due > now) {
                nextDue = nextDue < 0 ? due : std::min(nextDue, due);
                continue;
            }
        }
        const qsizetype row = m_queue->indexOf(n.transfer.id);
        if (row != n.row) {
            resync();
            return;
        }
        announce(n, m_queue->transfers()[row]);
    }
    if (nextDue >= 0 && !m_frame->isActive())
        m_frame->start(int(std::max<qint64>(frameMs, nextDue - now)));
}

bool TransferQueueModel::sameFiles(const Node &n) const
{
    const qsizetype row = m_queue->indexOf(n.transfer.id);
    if (row < 0)
        return false;
    const QList<FileInFlight> wanted = visibleWorkers(m_queue->transfers()[row]);
    return std::equal(wanted.cbegin(), wanted.cend(), n.shown.cbegin(), n.shown.cend(),
                      [](const FileInFlight &a, const FileInFlight &b) {
                          return a.id == b.id && a.fileIndex == b.fileIndex;
                      });
}

void TransferQueueModel::announce(Node &n, const Transfer &now)
{
    n.pending = false;
    if (now == n.transfer)
        return;
    n.announced = m_clock.elapsed();
    ++m_rowUpdates;
    const int row = n.row;
    const QModelIndex parent = createIndex(row, 0, nullptr);
    const QList<FileInFlight> wanted = visibleWorkers(now);

    // Workers that left go first, then the new ones take their places; both lists are sorted
    // by worker id, so one pass each keeps the announced rows and the copy in step.
    for (int i = int(n.shown.size()) - 1; i >= 0; --i) {
        const int id = n.shown[i].id;
        const bool stays = std::any_of(wanted.cbegin(), wanted.cend(),
                                       [id](const FileInFlight &w) { return w.id == id; });
        if (!stays) {
            beginRemoveRows(parent, i, i);
            n.shown.removeAt(i);
            n.workerLooks.removeAt(i);
            endRemoveRows();
        }
    }
    int firstChanged = -1;
    int lastChanged = -1;
    for (int i = 0; i < wanted.size(); ++i) {
        if (i < n.shown.size() && n.shown[i].id == wanted[i].id) {
            if (!(n.shown[i] == wanted[i])) {
                n.shown[i] = wanted[i];
                n.workerLooks[i] = WorkerLook::of(wanted[i]);
                firstChanged = firstChanged < 0 ? i : firstChanged;
                lastChanged = i;
            }
            continue;
        }
        beginInsertRows(parent, i, i);
        n.shown.insert(i, wanted[i]);
        n.workerLooks.insert(i, WorkerLook::of(wanted[i]));
        endInsertRows();
    }
    if (n.shown.size() != wanted.size()) {
        // Worker ids out of order: the merge above cannot hold, so redo the children whole.
        if (!n.shown.isEmpty()) {
            beginRemoveRows(parent, 0, int(n.shown.size()) - 1);
            n.shown.clear();
            n.workerLooks.clear();
            endRemoveRows();
        }
        if (!wanted.isEmpty()) {
            beginInsertRows(parent, 0, int(wanted.size()) - 1);
            n.shown = wanted;
            for (const FileInFlight &w : wanted)
                n.workerLooks.append(WorkerLook::of(w));
            endInsertRows();
        }
        firstChanged = -1;
    }

    const bool wasWorking = n.transfer.state == TransferState::Working;
    const bool isWorking = now.state == TransferState::Working;
    n.transfer = now;
    n.look = TransferLook::of(now, Clock::current().now());
    m_working += int(isWorking) - int(wasWorking);
    emit dataChanged(parent, createIndex(row, ColumnCount - 1, nullptr));
    if (firstChanged >= 0)
        emit dataChanged(createIndex(firstChanged, 0, &n),
                         createIndex(lastChanged, ColumnCount - 1, &n));
    if (wasWorking != isWorking)
        updateTimer();
}

void TransferQueueModel::resync()
{
    // Only when the queue's signals and this copy disagree, which they should never do.
    qWarning("TransferQueueModel: rows out of step with the queue, rebuilding");
    beginResetModel();
    m_nodes.clear();
    m_working = 0;
    loadNodes();
    endResetModel();
    updateTimer();
}

void TransferQueueModel::loadNodes()
{
    if (!m_queue)
        return;
    for (const Transfer &t : m_queue->transfers()) {
        std::unique_ptr<Node> n = makeNode(t);
        n->row = int(m_nodes.size());
        m_working += t.state == TransferState::Working ? 1 : 0;
        m_nodes.push_back(std::move(n));
    }
}

void TransferQueueModel::refreshTimes()
{
    const QDateTime now = Clock::current().now();
    for (const auto &n : m_nodes) {
        if (n->transfer.state == TransferState::Working) {
            n->look.elapsed = QueueTexts::elapsedText(n->transfer, now);
            const QModelIndex cell = createIndex(n->row, RemainingColumn, nullptr);
            emit dataChanged(cell, cell, {Qt::DisplayRole});
            // A wait for Google's limits counts down under the source.
            if (n->transfer.limitedUntil.isValid()) {
                n->look.subLine = TransferLook::of(n->transfer, now).subLine;
                const QModelIndex source = createIndex(n->row, SourceColumn, nullptr);
                emit dataChanged(source, source);
            }
        }
    }
}

void TransferQueueModel::updateTimer()
{
    if (m_working > 0 && !m_timer->isActive())
        m_timer->start();
    else if (m_working <= 0 && m_timer->isActive())
        m_timer->stop();
}

} // namespace Tarnwick
