#include "drivepane.h"

#include "emptystateview.h"
#include "panehead.h"

#include <QStackedWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

DrivePane::DrivePane(QWidget *parent)
    : QFrame(parent)
    , m_head(new PaneHead(u"externaldrive.badge.icloud"_s, u"Google Drive"_s, this))
    , m_pages(new QStackedWidget(this))
    , m_notConnected(new EmptyStateView(this))
{
    setObjectName(u"pane"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(10);
    layout->addWidget(m_head);
    layout->addWidget(m_pages, 1);

    m_notConnected->setSymbol(u"cloud"_s);
    m_notConnected->setTitle(u"Kết nối không gian của anh"_s);
    m_notConnected->setText(
        u"Đăng nhập Google Drive để duyệt file\nvà tải lên chỉ bằng một lần kéo thả."_s);
    m_notConnected->setButtonText(u"Kết nối Google Drive"_s);
    m_notConnected->setCaption(u"Đăng nhập an toàn qua Google"_s);
    connect(m_notConnected, &EmptyStateView::buttonClicked, this, &DrivePane::connectRequested);
    m_pages->addWidget(m_notConnected);
}

} // namespace Tarnwick
