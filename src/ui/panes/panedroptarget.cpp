#include "panedroptarget.h"

#include "common/palette.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace Tarnwick {

PaneDropTarget::PaneDropTarget(QWidget *pane, QString hint, Accepts accepts, Drop drop)
    : QObject(pane)
    , m_pane(pane)
    , m_overlay(new QLabel(std::move(hint), pane))
    , m_accepts(std::move(accepts))
    , m_drop(std::move(drop))
{
    pane->setAcceptDrops(true);
    pane->installEventFilter(this);
    m_overlay->setObjectName(u"dropHint"_s);
    m_overlay->setTextFormat(Qt::PlainText);
    m_overlay->setAlignment(Qt::AlignCenter);
    m_overlay->setWordWrap(true);
    // Drops land on the pane, not on the hint drawn over it.
    m_overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    const QColor teal = Palette::teal();
    // The pane's own background, tinted teal and nearly opaque: the rows under the hint dim
    // away instead of running through its text.
    const QColor base = Palette::background();
    const auto mix = [&](int a, int b) { return (a * 88 + b * 12) / 100; };
    m_overlay->setStyleSheet(
        u"QLabel#dropHint { border: 2px solid %1; border-radius: 10px; background: rgba(%2, %3, %4, 235);"
        " color: %1; font-weight: 600; padding: 24px; }"_s.arg(teal.name())
            .arg(mix(base.red(), teal.red()))
            .arg(mix(base.green(), teal.green()))
            .arg(mix(base.blue(), teal.blue())));
    m_overlay->hide();
}

bool PaneDropTarget::active() const
{
    return m_overlay->isVisible();
}

void PaneDropTarget::setActive(bool active)
{
    if (active) {
        m_overlay->setGeometry(m_pane->rect());
        m_overlay->raise();
        m_overlay->show();
    } else {
        m_overlay->hide();
    }
}

bool PaneDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_pane)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        const bool ok = drag->mimeData() && m_accepts(*drag->mimeData());
        if (ok) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        setActive(ok);
        return true;
    }
    case QEvent::DragLeave:
        setActive(false);
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        setActive(false);
        if (!drop->mimeData() || !m_accepts(*drop->mimeData())) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        m_drop(*drop->mimeData());
        return true;
    }
    default:
        return false;
    }
}

} // namespace Tarnwick
