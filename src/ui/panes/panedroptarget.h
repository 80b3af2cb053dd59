#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLabel;
class QMimeData;
class QWidget;

namespace Tarnwick {

// Makes a pane a drop target: while an acceptable drag hovers over it, the pane is outlined in
// the accent colour with a hint of what a drop does; a drop hands the payload on. Refused drags
// simply do not land. The pane keeps its own code: this object watches its events.
class PaneDropTarget final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PaneDropTarget)

public:
    using Accepts = std::function<bool(const QMimeData &)>;
    using Drop = std::function<void(const QMimeData &)>;

    // Becomes a child of pane.
    PaneDropTarget(QWidget *pane, QString hint, Accepts accepts, Drop drop);

    // A drag hovers over the pane and would be taken.
    bool active() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setActive(bool active);

    QWidget *m_pane; // Not owned: our parent.
    QLabel *m_overlay;
    Accepts m_accepts;
    Drop m_drop;
};

} // namespace Tarnwick
