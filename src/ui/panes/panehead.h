#pragma once

#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace Tarnwick {

// The first row of a pane: its symbol and title, then whatever controls the pane adds.
class PaneHead final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PaneHead)

public:
    PaneHead(const QString &symbol, const QString &title, QWidget *parent = nullptr);

    QHBoxLayout *controls() const { return m_controls; }
    QLabel *titleLabel() const { return m_title; }

private:
    QLabel *m_title;
    QHBoxLayout *m_controls;
};

} // namespace Tarnwick
