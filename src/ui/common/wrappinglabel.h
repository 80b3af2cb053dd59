#pragma once

#include <QLabel>

namespace Tarnwick {

// A label for text of any length that must not widen its container: it wraps at word
// boundaries, or anywhere inside a word too long for a line, shows at most maxLines lines with
// the last one elided, and then carries the whole text in its tooltip.
class WrappingLabel final : public QLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WrappingLabel)

public:
    explicit WrappingLabel(QWidget *parent = nullptr, int maxLines = 4);

    // Use this rather than QLabel::setText, which is not virtual.
    void setFullText(const QString &text);
    // The lines shown at width, and whether some of the text had to be left out.
    QStringList linesFor(int width, bool *elided = nullptr) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateToolTip();

    int m_maxLines;
};

} // namespace Tarnwick
