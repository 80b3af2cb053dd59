#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace Tarnwick {

class WrappingLabel;

// The centred picture of an empty pane: a large symbol, a title, a text, and optionally a
// primary button with a caption under it.
class EmptyStateView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EmptyStateView)

public:
    explicit EmptyStateView(QWidget *parent = nullptr);

    void setSymbol(const QString &name);
    void setTitle(const QString &title);
    void setText(const QString &text);
    // An empty text hides the button.
    void setButtonText(const QString &text);
    void setCaption(const QString &caption);

    QLabel *titleLabel() const { return m_title; }
    QLabel *textLabel() const;
    QPushButton *button() const { return m_button; }
    QLabel *captionLabel() const { return m_caption; }

signals:
    void buttonClicked();

private:
    QLabel *m_symbol;
    QLabel *m_title;
    WrappingLabel *m_text;
    QPushButton *m_button;
    QLabel *m_caption;
};

} // namespace Tarnwick
