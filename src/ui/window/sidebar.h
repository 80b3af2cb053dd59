#pragma once

#include <QList>
#include <QWidget>

#include <optional>

class QPushButton;

namespace Tarnwick {

class SideButton;

// The window's left column: the brand, the three Drive areas, the queue entry with its badge,
// and the donation button at the bottom.
class Sidebar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Sidebar)

public:
    explicit Sidebar(QWidget *parent = nullptr);

    // The active area, as its place in DriveLocations::all(); missing when none is (not
    // connected).
    void setActiveLocation(std::optional<int> index);
    void setQueueActive(bool active);
    void setQueueBadge(int count);

    SideButton *locationButton(int index) const { return m_locations.at(index); }
    SideButton *queueButton() const { return m_queue; }
    QPushButton *coffeeButton() const { return m_coffee; }

signals:
    void locationClicked(int index);
    void queueClicked();
    void coffeeClicked();

private:
    QList<SideButton *> m_locations;
    SideButton *m_queue;
    QPushButton *m_coffee;
};

} // namespace Tarnwick
