#include "window/toolbarrow.h"

#include "window/accountbutton.h"
#include "common/icons.h"
#include "common/palette.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace Tarnwick {

ToolbarRow::ToolbarRow(QWidget *parent)
    : QWidget(parent)
    , m_account(new AccountButton(this))
{
    setObjectName(u"toolbarRow"_s);
    setAttribute(Qt::WA_StyledBackground);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 8);
    layout->setSpacing(8);
    layout->addWidget(m_account);
    layout->addStretch(1);
    auto button = [this, layout](const QString &symbol, const QString &text) {
        auto *b = new QPushButton(Icons::symbol(symbol), text, this);
        b->setCursor(Qt::PointingHandCursor);
        layout->addWidget(b);
        return b;
    };
    m_linkDownload = button(u"link.badge.plus"_s, u"Tải từ link Drive"_s);
    m_newFolder = button(u"folder.badge.plus"_s, u"Thư mục mới"_s);
    m_download = button(u"arrow.down"_s, u"Tải xuống"_s);
    m_upload = button(u"arrow.up"_s, u"Tải lên"_s);
    m_upload->setIcon(Icons::symbol(u"arrow.up"_s, Palette::background()));
    m_upload->setProperty("primary", true);
    // A file chooser takes files or a folder, never both: the button asks which.
    auto *uploads = new QMenu(m_upload);
    uploads->addAction(u"Tải file lên…"_s, this, &ToolbarRow::uploadClicked);
    uploads->addAction(u"Tải thư mục lên…"_s, this, &ToolbarRow::uploadFolderClicked);
    m_upload->setMenu(uploads);

    connect(m_account, &QPushButton::clicked, this, &ToolbarRow::accountClicked);
    connect(m_linkDownload, &QPushButton::clicked, this, &ToolbarRow::linkDownloadClicked);
    connect(m_newFolder, &QPushButton::clicked, this, &ToolbarRow::newFolderClicked);
    connect(m_download, &QPushButton::clicked, this, &ToolbarRow::downloadClicked);
    setEnabling(false, false, false);
}

void ToolbarRow::setEnabling(bool connected, bool canUpload, bool canDownload)
{
    m_linkDownload->setEnabled(connected);
    m_newFolder->setEnabled(canUpload);
    m_download->setEnabled(canDownload);
    m_upload->setEnabled(canUpload);
}

} // namespace Tarnwick
