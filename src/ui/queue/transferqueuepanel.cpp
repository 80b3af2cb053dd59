#include "queue/transferqueuepanel.h"

#include "queue/queueresizehandle.h"
#include "queue/queuetexts.h"
#include "queue/transferqueuemodel.h"
#include "queue/transferqueueview.h"
#include "queue/transferrowdelegate.h"

#include "common/icons.h"
#include "common/palette.h"

#include "transfers/transfers.h"
#include "transfer/transferqueue.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Tarnwick {

const QString TransferQueuePanel::heightKey = u"queue-height"_s;

double TransferQueuePanel::clampHeight(double height)
{
    if (!std::isfinite(height))
        return defaultHeight;
    if (height <= minimumHeight)
        return minimumHeight;
    return height > maximumHeight ? maximumHeight : height;
}

TransferQueuePanel::TransferQueuePanel(Transfers *transfers, QWidget *parent)
    : QFrame(parent)
    , m_transfers(transfers)
    , m_handle(new QueueResizeHandle(this))
    , m_title(new QLabel(u"Hàng đợi"_s, this))
    , m_counts(new QLabel(this))
    , m_clear(new QPushButton(u"Xóa đã xong"_s, this))
    , m_hide(new QPushButton(this))
    , m_model(new TransferQueueModel(transfers ? &transfers->queue() : nullptr, this))
    , m_view(new TransferQueueView(m_model, this))
    , m_headerTimer(new QTimer(this))
{
    setObjectName(u"queuePanel"_s);
    setAttribute(Qt::WA_StyledBackground);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_handle);

    auto *head = new QHBoxLayout;
    head->setContentsMargins(12, 0, 8, 4);
    head->setSpacing(8);
    auto *icon = new QLabel(this);
    icon->setPixmap(Icons::symbol(u"arrow.up.arrow.down"_s, Palette::teal()).pixmap(14, 14));
    head->addWidget(icon);
    m_title->setProperty("role", u"title"_s);
    head->addWidget(m_title);
    m_counts->setProperty("role", u"muted"_s);
    head->addWidget(m_counts);
    head->addStretch(1);
    m_clear->setProperty("flat", true);
    head->addWidget(m_clear);
    m_hide->setIcon(Icons::symbol(u"chevron.down"_s, Palette::muted()));
    m_hide->setIconSize(QSize(14, 14));
    m_hide->setToolTip(u"Ẩn hàng đợi"_s);
    m_hide->setProperty("flat", true);
    head->addWidget(m_hide);
    column->addLayout(head);
    column->addWidget(m_view, 1);

    connect(m_handle, &QueueResizeHandle::dragged, this, [this](double translation) {
        // From what is shown: a stored height the window has no room for is not where the
        // handle is.
        if (!m_dragStartHeight)
            m_dragStartHeight = height();
        // Dragging up grows the panel.
        setQueueHeight(*m_dragStartHeight - translation);
    });
    connect(m_handle, &QueueResizeHandle::dragEnded, this, [this] { m_dragStartHeight.reset(); });

    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_transfers)
            m_transfers->clearFinished();
    });
    connect(m_hide, &QPushButton::clicked, this, [this] {
        emit hideRequested();
    });
    connect(m_view->rowDelegate(), &TransferRowDelegate::buttonClicked, this,
            [this](const QUuid &id, QueueTexts::RowButton::Kind kind) {
                if (!m_transfers)
                    return;
                switch (kind) {
                case QueueTexts::RowButton::Pause:
                    m_transfers->pauseTransfer(id);
                    break;
                case QueueTexts::RowButton::Resume:
                case QueueTexts::RowButton::Retry:
                    m_transfers->resumeTransfer(id);
                    break;
                case QueueTexts::RowButton::Cancel:
                    m_transfers->cancelTransfer(id);
                    break;
                }
            });

    // Progress arrives hundreds of times a second: the header follows at the pace of the rows.
    m_headerTimer->setSingleShot(true);
    m_headerTimer->setInterval(TransferQueueModel::rowIntervalMs);
    connect(m_headerTimer, &QTimer::timeout, this, &TransferQueuePanel::updateHeader);
    if (transfers)
        connect(&transfers->queue(), &TransferQueue::transfersChanged, m_headerTimer, [this] {
            if (!m_headerTimer->isActive())
                m_headerTimer->start();
        });

    bool stored = false;
    const double height = QSettings().value(heightKey).toDouble(&stored);
    m_height = clampHeight(stored ? height : defaultHeight);
    applyHeight();
    updateHeader();
}

TransferQueuePanel::~TransferQueuePanel() = default;

void TransferQueuePanel::setQueueHeight(double height)
{
    m_height = clampHeight(std::min(height, double(m_room)));
    QSettings().setValue(heightKey, m_height);
    applyHeight();
}

void TransferQueuePanel::setRoom(int room)
{
    m_room = std::max(room, int(minimumHeight));
    applyHeight();
}

void TransferQueuePanel::applyHeight()
{
    const int shown = qRound(std::min(m_height, double(m_room)));
    if (height() != shown || QWidget::minimumHeight() != shown)
        setFixedHeight(shown);
}

void TransferQueuePanel::updateHeader()
{
    const QList<Transfer> none;
    const QList<Transfer> &all = m_transfers ? m_transfers->list() : none;
    const QString counts = all.isEmpty() ? QueueTexts::emptyQueueText()
                                         : QueueTexts::headerCounts(all);
    if (m_counts->text() != counts)
        m_counts->setText(counts);
    m_counts->setVisible(!counts.isEmpty());
    m_clear->setEnabled(QueueTexts::hasFinished(all));
}

} // namespace Tarnwick
