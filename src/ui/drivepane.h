#pragma once

#include <QFrame>

class QStackedWidget;

namespace Tarnwick {

class EmptyStateView;
class PaneHead;

// The right pane. Until a Google account is connected it shows the invitation to connect; the
// Drive listing takes its place once connected.
class DrivePane final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DrivePane)

public:
    explicit DrivePane(QWidget *parent = nullptr);

    PaneHead *head() const { return m_head; }
    QStackedWidget *pages() const { return m_pages; }
    EmptyStateView *notConnectedView() const { return m_notConnected; }

signals:
    // The user asked to connect a Google account.
    void connectRequested();

private:
    PaneHead *m_head;
    QStackedWidget *m_pages;
    EmptyStateView *m_notConnected;
};

} // namespace Tarnwick
