#include "window/updatebanner.h"

#include "common/icons.h"
#include "common/palette.h"

#include "appinfo.h"
#include "records/displaytext.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

UpdateBanner::UpdateBanner(QWidget *parent)
    : QFrame(parent)
    , m_title(new QLabel(this))
    , m_notes(new QPushButton(u"Xem có gì mới"_s, this))
    , m_skip(new QPushButton(u"Bỏ qua bản này"_s, this))
    , m_later(new QPushButton(u"Để sau"_s, this))
    , m_download(
          new QPushButton(Icons::symbol(u"arrow.down"_s, Palette::background()), u"Tải về"_s, this))
{
    setObjectName(u"updateBanner"_s);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 6, 16, 6);
    auto *icon = new QLabel(this);
    icon->setPixmap(Icons::symbol(u"arrow.down.circle.fill"_s, Palette::teal()).pixmap(22, 22));
    row->addWidget(icon);
    auto *texts = new QVBoxLayout;
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    auto *subtitle = new QLabel(u"Anh đang dùng "_s + AppInfo::version(), this);
    subtitle->setProperty("role", u"muted"_s);
    texts->addWidget(m_title);
    texts->addWidget(subtitle);
    row->addLayout(texts, 1);
    m_notes->setProperty("flat", true);
    m_notes->setCursor(Qt::PointingHandCursor);
    m_download->setProperty("primary", true);
    for (QPushButton *button : {m_notes, m_skip, m_later, m_download})
        row->addWidget(button);
    connect(m_notes, &QPushButton::clicked, this, &UpdateBanner::notesClicked);
    connect(m_skip, &QPushButton::clicked, this, &UpdateBanner::skipClicked);
    connect(m_later, &QPushButton::clicked, this, &UpdateBanner::laterClicked);
    connect(m_download, &QPushButton::clicked, this, &UpdateBanner::downloadClicked);
}

void UpdateBanner::setUpdate(const QString &version, const QString &notes)
{
    // The version comes from the manifest: plain text, never markup.
    m_title->setTextFormat(Qt::PlainText);
    m_title->setText(u"Đã có Tarnwick "_s + DisplayText::shown(version, 40));
    m_notes->setVisible(!notes.isEmpty());
}

} // namespace Tarnwick
