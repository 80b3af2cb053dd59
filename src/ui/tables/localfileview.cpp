#include "tables/localfileview.h"

#include "tables/localfiledelegate.h"

#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>

namespace Tarnwick {

LocalFileView::LocalFileView(QWidget *parent)
    : QTableView(parent)
    , m_placeholder(new QLabel(viewport()))
{
    setSelectionBehavior(SelectRows);
    setSelectionMode(ExtendedSelection);
    setEditTriggers(NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setDragEnabled(true);
    setDragDropMode(DragOnly);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerPixel);
    setIconSize(QSize(22, 22));
    setContextMenuPolicy(Qt::CustomContextMenu);
    setCornerButtonEnabled(false);
    // Tab leaves the list for the next control; the arrows move inside it.
    setTabKeyNavigation(false);
    verticalHeader()->hide();
    // One fixed row height keeps a huge folder as cheap to scroll as a small one.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(28);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setProperty("role", QStringLiteral("muted"));
    m_placeholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_placeholder->hide();
}

void LocalFileView::setPlaceholderText(const QString &text)
{
    m_placeholder->setText(text);
}

void LocalFileView::setPlaceholderVisible(bool visible)
{
    m_placeholder->setVisible(visible);
    if (visible)
        m_placeholder->setGeometry(viewport()->rect());
}

void LocalFileView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    m_placeholder->setGeometry(viewport()->rect());
}

void LocalFileView::keyPressEvent(QKeyEvent *event)
{
    const bool plain =
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (plain) {
        switch (event->key()) {
        case Qt::Key_Space:
            emit previewKeyPressed();
            return;
        case Qt::Key_Delete:
            emit deleteKeyPressed();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            emit primaryActionRequested();
            return;
        case Qt::Key_Down:
        case Qt::Key_Up:
            // With nothing selected the first arrow picks the first (or last) row, not the one
            // after the view's invisible current row.
            if (model() && model()->rowCount() > 0 && selectionModel()
                && !selectionModel()->hasSelection()) {
                const int row = event->key() == Qt::Key_Down ? 0 : model()->rowCount() - 1;
                selectionModel()->setCurrentIndex(model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect
                                                      | QItemSelectionModel::Rows);
                scrollTo(model()->index(row, 0));
                return;
            }
            break;
        default:
            break;
        }
    }
    QTableView::keyPressEvent(event);
}

void LocalFileView::mousePressEvent(QMouseEvent *event)
{
    m_pressed = indexAt(event->position().toPoint());
    QTableView::mousePressEvent(event);
}

void LocalFileView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        const QRect cell = visualRect(index);
        if (!(LocalFileDelegate::hasChevron(index) &&
              LocalFileDelegate::chevronRect(cell).contains(event->position().toPoint()))) {
            emit primaryActionRequested();
            return;
        }
    }
    QTableView::mouseDoubleClickEvent(event);
}

void LocalFileView::startDrag(Qt::DropActions supportedActions)
{
    const QModelIndex index = m_pressed.isValid() ? QModelIndex(m_pressed) : currentIndex();
    if (!index.isValid() || !model())
        return;
    QMimeData *mime = model()->mimeData({index});
    if (!mime)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mime);
    const QPixmap icon = index.siblingAtColumn(0).data(Qt::DecorationRole).value<QPixmap>();
    if (!icon.isNull())
        drag->setPixmap(icon);
    drag->exec(supportedActions & Qt::CopyAction ? Qt::CopyAction : supportedActions,
               Qt::CopyAction);
}

} // namespace Tarnwick
