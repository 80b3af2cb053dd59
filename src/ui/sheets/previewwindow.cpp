#include "sheets/previewwindow.h"

#include "records/displaytext.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeDatabase>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <algorithm>

namespace Tarnwick {

namespace {
constexpr qint64 textLimit = 512 * 1024;
constexpr int imageSide = 2048;
} // namespace

PreviewWindow::PreviewWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_pages(new QStackedWidget(this))
    , m_imageLabel(new QLabel(this))
    , m_text(new QPlainTextEdit(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    m_imageLabel->setAlignment(Qt::AlignCenter);
    m_imageLabel->setMinimumSize(64, 64);
    // The picture follows the window, never the other way round.
    m_imageLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    m_imageLabel->installEventFilter(this);
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_pages->addWidget(m_imageLabel);
    m_pages->addWidget(m_text);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pages);
    resize(760, 560);
}

PreviewWindow::Content PreviewWindow::load(const QString &path)
{
    Content content;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (reader.canRead()) {
        const QSize size = reader.size();
        if (size.isValid() && (size.width() > imageSide || size.height() > imageSide))
            reader.setScaledSize(size.scaled(imageSide, imageSide, Qt::KeepAspectRatio));
        content.image = reader.read();
        if (!content.image.isNull())
            return content;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (!type.inherits(QStringLiteral("text/plain")))
        return content;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    const QByteArray bytes = file.read(textLimit);
    content.truncated = !file.atEnd();
    QStringDecoder decoder(QStringDecoder::Utf8);
    content.text = decoder.decode(bytes);
    if (content.text.isEmpty() && !bytes.isEmpty())
        content.text = QString::fromLatin1(bytes);
    if (content.text.isEmpty())
        content.text = QStringLiteral(" "); // an empty text file still previews as text
    return content;
}

void PreviewWindow::showContent(const QString &path, const Content &content)
{
    m_path = path;
    setWindowTitle(DisplayText::shown(QFileInfo(path).fileName()));
    if (!content.image.isNull()) {
        m_image = content.image;
        m_pages->setCurrentWidget(m_imageLabel);
        // A picture at its own size, up to the window it was opened from (or the screen).
        QSize room(900, 680);
        if (parentWidget())
            room = room.expandedTo(parentWidget()->window()->size());
        // The frame the window manager adds needs room too.
        if (const QScreen *shown = parentWidget() ? parentWidget()->screen() : screen())
            room = room.boundedTo(shown->availableSize() * 9 / 10 - QSize(0, 48));
        const QSize fit = m_image.size().scaled(room, Qt::KeepAspectRatio);
        resize(fit.boundedTo(m_image.size()).expandedTo(QSize(320, 240)));
        updateImage();
    } else {
        m_image = QImage();
        m_text->setPlainText(content.truncated ? content.text + QStringLiteral("\n…")
                                               : content.text);
        m_pages->setCurrentWidget(m_text);
    }
    if (!isVisible())
        placeOverParent();
    show();
    raise();
    activateWindow();
}

void PreviewWindow::placeOverParent()
{
    const QWidget *over = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen *shown = over ? over->screen() : screen();
    if (!shown)
        return;
    // Centred over the window it came from, and whole on its screen, title bar included.
    const QRect area = shown->availableGeometry().adjusted(0, 32, 0, 0);
    QRect placed(QPoint(), size().boundedTo(area.size()));
    placed.moveCenter(over ? over->frameGeometry().center() : area.center());
    placed.moveLeft(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()));
    placed.moveTop(std::clamp(placed.top(), area.top(), area.bottom() + 1 - placed.height()));
    resize(placed.size());
    move(placed.topLeft());
}

void PreviewWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool PreviewWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The picture follows the room its label got, which the layout settles after the window's
    // own resize.
    if (watched == m_imageLabel && event->type() == QEvent::Resize)
        updateImage();
    return QWidget::eventFilter(watched, event);
}

void PreviewWindow::updateImage()
{
    if (m_image.isNull())
        return;
    // One image pixel to one point when it fits; only a larger picture is reduced to the room.
    const QSize room = m_imageLabel->size();
    if (m_image.width() <= room.width() && m_image.height() <= room.height()) {
        m_imageLabel->setPixmap(QPixmap::fromImage(m_image));
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(
        m_image.scaled(room * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    m_imageLabel->setPixmap(pixmap);
}

} // namespace Tarnwick
