#pragma once

#include <QLineEdit>

namespace Tarnwick {

// A pane's search field: a magnifying glass in front, the fixed placeholder, and a clear button
// shown only while there is text.
class SearchField final : public QLineEdit
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SearchField)

public:
    explicit SearchField(QWidget *parent = nullptr);
    QAction *clearAction() const { return m_clear; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QAction *m_clear;
};

} // namespace Tarnwick
