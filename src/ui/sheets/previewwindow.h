#pragma once

#include <QImage>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QStackedWidget;

namespace Tarnwick {

// A small window of our own that previews an image or a text file. Space and Escape close it,
// as they do in the file browsers users know.
class PreviewWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PreviewWindow)

public:
    explicit PreviewWindow(QWidget *parent = nullptr);

    struct Content
    {
        QImage image;
        QString text;
        bool truncated = false;
    };
    // Reads what the preview shows; runs off the main thread. Neither an image nor text when
    // the file is of another kind.
    static Content load(const QString &path);

    void showContent(const QString &path, const Content &content);
    QString path() const { return m_path; }
    QLabel *imageLabel() const { return m_imageLabel; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateImage();
    void placeOverParent();

    QString m_path;
    QImage m_image;
    QStackedWidget *m_pages;
    QLabel *m_imageLabel;
    QPlainTextEdit *m_text;
};

} // namespace Tarnwick
