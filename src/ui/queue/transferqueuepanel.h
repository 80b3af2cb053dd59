#pragma once

#include <limits>

#include <QFrame>
#include <QPointer>

#include <optional>

class QLabel;
class QPushButton;
class QTimer;

namespace Tarnwick {

class QueueResizeHandle;
class TransferQueueModel;
class TransferQueueView;
class Transfers;

// The transfer queue panel under the two panes: the resize handle, the header with the counts,
// "Xóa đã xong" and the hide button, and the table of transfers. Its height is the user's,
// kept between 64 and 640 and stored under "queue-height".
class TransferQueuePanel final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransferQueuePanel)

public:
    // Room for four transfer rows under the headers.
    static constexpr double defaultHeight = 240;
    static constexpr double minimumHeight = 64;
    static constexpr double maximumHeight = 640;
    static const QString heightKey;
    // 64 or less is 64, above 640 is 640; a value that is not a number is the default.
    static double clampHeight(double height);

    explicit TransferQueuePanel(Transfers *transfers, QWidget *parent = nullptr);
    ~TransferQueuePanel() override;

    double queueHeight() const { return m_height; }
    // Clamps (also to the room the window has), applies and stores at once.
    void setQueueHeight(double height);
    // The most the window can give the panel now. The stored height stays the user's: a window
    // made taller again shows it whole.
    void setRoom(int room);
    int room() const { return m_room; }
    bool isDragging() const { return m_dragStartHeight.has_value(); }

    QueueResizeHandle *handle() const { return m_handle; }
    QLabel *titleLabel() const { return m_title; }
    QLabel *countLabel() const { return m_counts; }
    QPushButton *clearButton() const { return m_clear; }
    QPushButton *hideButton() const { return m_hide; }
    TransferQueueView *view() const { return m_view; }
    TransferQueueModel *queueModel() const { return m_model; }

signals:
    // The hide button was pressed.
    void hideRequested();

private:
    void updateHeader();
    void applyHeight();

    QPointer<Transfers> m_transfers;
    double m_height = defaultHeight;
    int m_room = std::numeric_limits<int>::max();
    std::optional<double> m_dragStartHeight;
    QueueResizeHandle *m_handle;
    QLabel *m_title;
    QLabel *m_counts;
    QPushButton *m_clear;
    QPushButton *m_hide;
    TransferQueueModel *m_model;
    TransferQueueView *m_view;
    QTimer *m_headerTimer;
};

} // namespace Tarnwick
