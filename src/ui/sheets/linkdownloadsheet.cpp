#include "sheets/linkdownloadsheet.h"

#include "common/icons.h"
#include "common/palette.h"

#include "transfers/transfers.h"
#include "async/async.h"
#include "desktop.h"
#include "records/diskspaceutilities.h"
#include "records/drivelinks.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

QLabel *sectionTitle(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setStyleSheet(u"color: %1; font-size: 11px; font-weight: 600;"_s.arg(
        Palette::muted().name()));
    // Room above the capitals for the marks stacked on them ("ẾT", "ỤC").
    label->setContentsMargins(0, label->fontMetrics().height() / 2, 0, 0);
    return label;
}

QString lastComponent(const QString &path)
{
    const QString clean = QDir::cleanPath(path);
    return clean == u"/" ? clean : clean.mid(clean.lastIndexOf(u'/') + 1);
}

QCoro::Task<> pickFolder(QPointer<LinkDownloadSheet> sheet, Desktop *desktop, QString start)
{
    Desktop::FolderRequest request;
    request.prompt = u"Chọn thư mục này"_s;
    request.directory = start;
    auto choosing = desktop->chooseFolder(request);
    const std::optional<QString> chosen = co_await choosing;
    if (sheet && chosen)
        sheet->setTargetFolder(*chosen);
}

} // namespace

LinkDownloadSheet::LinkDownloadSheet(Transfers *transfers, const QString &initialLink,
                                     const std::optional<QString> &initialFolder, QWidget *parent)
    : QDialog(parent)
    , m_transfers(transfers)
    , m_link(new QLineEdit(initialLink, this))
    , m_folderIcon(new QLabel(this))
    , m_folderName(new QLabel(this))
    , m_folderPath(new QLabel(this))
    , m_chips(new QHBoxLayout)
    , m_error(new QLabel(this))
    , m_download(new QPushButton(u"Tải về ngay"_s, this))
{
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    const QString desktopFolder = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    m_targetFolder = initialFolder.value_or(downloads);

    setWindowTitle(u"Tải từ liên kết Google Drive"_s);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(480);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);

    auto *header = new QHBoxLayout;
    auto *icon = new QLabel(this);
    icon->setPixmap(Icons::symbol(u"link.badge.plus"_s, Palette::teal()).pixmap(28, 28));
    header->addWidget(icon, 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    auto *title = new QLabel(u"Tải từ liên kết Google Drive"_s, this);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    title->setFont(font);
    titles->addWidget(title);
    auto *subtitle =
        new QLabel(u"Dán link file hoặc thư mục Google Drive để tải thẳng về máy"_s, this);
    subtitle->setWordWrap(true);
    subtitle->setStyleSheet(u"color: %1;"_s.arg(Palette::muted().name()));
    titles->addWidget(subtitle);
    header->addLayout(titles, 1);
    layout->addLayout(header);

    layout->addWidget(sectionTitle(u"LIÊN KẾT GOOGLE DRIVE"_s, this));
    m_link->setPlaceholderText(u"https://drive.google.com/file/d/… hoặc /drive/folders/..."_s);
    m_link->setClearButtonEnabled(true);
    layout->addWidget(m_link);

    layout->addWidget(sectionTitle(u"THƯ MỤC LƯU TRÊN MÁY"_s, this));
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folderIcon);
    auto *folderText = new QVBoxLayout;
    m_folderName->setTextFormat(Qt::PlainText);
    m_folderPath->setTextFormat(Qt::PlainText);
    m_folderPath->setStyleSheet(u"color: %1;"_s.arg(Palette::muted().name()));
    m_folderPath->setWordWrap(true);
    folderText->addWidget(m_folderName);
    folderText->addWidget(m_folderPath);
    folderRow->addLayout(folderText, 1);
    auto *change = new QPushButton(Icons::symbol(u"folder.badge.gearshape"_s), u"Đổi thư mục…"_s, this);
    change->setAutoDefault(false);
    folderRow->addWidget(change);
    layout->addLayout(folderRow);

    m_chips->addWidget(new QLabel(u"Gợi ý nhanh:"_s, this));
    addChip(u"Downloads"_s, downloads);
    addChip(u"Desktop"_s, desktopFolder);
    if (initialFolder && QDir::cleanPath(*initialFolder) != QDir::cleanPath(downloads)
        && QDir::cleanPath(*initialFolder) != QDir::cleanPath(desktopFolder))
        addChip(lastComponent(*initialFolder), *initialFolder);
    m_chips->addStretch(1);
    layout->addLayout(m_chips);

    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->setStyleSheet(u"color: %1;"_s.arg(Palette::destructive().name()));
    m_error->hide();
    layout->addWidget(m_error);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *cancel = new QPushButton(u"Hủy"_s, this);
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);
    buttons->addWidget(m_download);
    m_download->setDefault(true);
    layout->addLayout(buttons);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_download, &QPushButton::clicked, this, &LinkDownloadSheet::submit);
    connect(m_link, &QLineEdit::returnPressed, this, &LinkDownloadSheet::submit);
    connect(m_link, &QLineEdit::textChanged, this, [this] {
        m_download->setEnabled(!linkText().trimmed().isEmpty());
    });
    connect(change, &QPushButton::clicked, this, &LinkDownloadSheet::chooseFolder);
    m_download->setEnabled(!linkText().trimmed().isEmpty());
    updateFolder();
    m_link->setFocus();
}

QString LinkDownloadSheet::linkText() const
{
    return m_link->text();
}

void LinkDownloadSheet::setLinkText(const QString &text)
{
    m_link->setText(text);
}

void LinkDownloadSheet::setTargetFolder(const QString &folder)
{
    m_targetFolder = folder;
    updateFolder();
}

QString LinkDownloadSheet::error() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

bool LinkDownloadSheet::isExternalDrive(const QString &path)
{
    return DiskSpaceUtilities::isExternalVolume(path);
}

void LinkDownloadSheet::submit()
{
    const QString trimmed = linkText().trimmed();
    if (trimmed.isEmpty())
        return;
    const std::optional<QString> id = DriveLinks::parseDriveID(trimmed);
    if (!id) {
        m_error->setText(u"Liên kết Google Drive không hợp lệ. Vui lòng kiểm tra lại đường dẫn."_s);
        m_error->show();
        return;
    }
    emit downloadRequested(*id, m_targetFolder);
    accept();
}

void LinkDownloadSheet::chooseFolder()
{
    if (m_transfers)
        detach(pickFolder(QPointer<LinkDownloadSheet>(this), &m_transfers->desktop(), m_targetFolder),
               {});
}

void LinkDownloadSheet::updateFolder()
{
    const bool external = isExternalDrive(m_targetFolder);
    m_folderIcon->setPixmap(Icons::symbol(external ? u"externaldrive"_s : u"folder.fill"_s,
                                          Palette::teal())
                                .pixmap(24, 24));
    m_folderName->setText(lastComponent(m_targetFolder));
    m_folderPath->setText(m_targetFolder);
}

void LinkDownloadSheet::addChip(const QString &title, const QString &folder)
{
    auto *chip = new QPushButton(title, this);
    chip->setAutoDefault(false);
    chip->setFlat(true);
    chip->setCursor(Qt::PointingHandCursor);
    connect(chip, &QPushButton::clicked, this, [this, folder] { setTargetFolder(folder); });
    m_chips->addWidget(chip);
}

} // namespace Tarnwick
