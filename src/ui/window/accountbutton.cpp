#include "window/accountbutton.h"

#include "common/icons.h"
#include "common/palette.h"

#include "records/displaytext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {
QPixmap dot(const QColor &color, qreal dpr)
{
    QPixmap pixmap(QSize(7, 7) * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, 7, 7));
    return pixmap;
}
} // namespace

AccountButton::AccountButton(QWidget *parent)
    : QPushButton(parent)
    , m_dot(new QLabel(this))
    , m_label(new QLabel(this))
    , m_chevron(new QLabel(this))
{
    setCursor(Qt::PointingHandCursor);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 4, 10, 4);
    layout->setSpacing(8);
    layout->addWidget(m_dot);
    layout->addWidget(m_label);
    layout->addWidget(m_chevron);
    for (QLabel *label : {m_dot, m_label, m_chevron})
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_chevron->setPixmap(Icons::symbol(u"chevron.down"_s, Palette::muted())
                             .pixmap(QSize(12, 12), devicePixelRatioF()));
    setAccount(false, {}, {});
}

void AccountButton::setAccount(bool connected, const QString &email, const QString &name)
{
    m_dot->setPixmap(dot(connected ? Palette::teal() : Palette::muted(), devicePixelRatioF()));
    // The name and address come from Google's answer: shown as text, never as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setText(connected ? DisplayText::shown(email) : u"Kết nối Google Drive"_s);
    setToolTip(connected
                   ? Qt::convertFromPlainText(DisplayText::shown(name) + u" · Quản lý kết nối"_s)
                   : u"Đăng nhập Google Drive"_s);
    updateGeometry();
}

QString AccountButton::labelText() const
{
    return m_label->text();
}

QSize AccountButton::sizeHint() const
{
    return layout()->sizeHint().expandedTo(QSize(0, 30));
}

} // namespace Tarnwick
