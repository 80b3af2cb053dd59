#pragma once

#include <QPersistentModelIndex>
#include <QTableView>

class QLabel;

namespace Tarnwick {

// The local pane's table: rows of one fixed height, whole-row multi-selection, and the pane's
// keys (Space previews, Delete asks to trash, Return opens) reported as signals. A drag carries
// only the row it started on.
class LocalFileView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalFileView)

public:
    explicit LocalFileView(QWidget *parent = nullptr);

    // A centred text over the empty list.
    void setPlaceholderText(const QString &text);
    void setPlaceholderVisible(bool visible);
    QLabel *placeholder() const { return m_placeholder; }

signals:
    void previewKeyPressed();
    void deleteKeyPressed();
    void primaryActionRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPersistentModelIndex m_pressed;
    QLabel *m_placeholder;
};

} // namespace Tarnwick
