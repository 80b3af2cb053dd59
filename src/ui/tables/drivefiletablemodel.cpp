#include "tables/drivefiletablemodel.h"

#include "common/drivethumbnailcache.h"
#include "common/icons.h"
#include "common/palette.h"

#include "records/byteformat.h"
#include "records/displaytext.h"
#include "records/dragpayload.h"

#include <QMimeData>

using namespace Qt::StringLiterals;

namespace Tarnwick {

DriveFileTableModel::DriveFileTableModel(DriveThumbnailCache *thumbnails, QObject *parent)
    : FileTableModel(parent)
    , m_thumbnails(thumbnails ? thumbnails : &DriveThumbnailCache::shared())
{
    connect(m_thumbnails, &DriveThumbnailCache::imageReady, this,
            &DriveFileTableModel::thumbnailReady);
}

void DriveFileTableModel::setFiles(QList<DriveFile> files)
{
    beginResetModel();
    m_files = std::move(files);
    forgetRowKeys();
    endResetModel();
}

QString DriveFileTableModel::rowKey(int row) const
{
    return m_files.at(row).id;
}

void DriveFileTableModel::thumbnailReady(const QString &link)
{
    for (int row = 0; row < m_files.size(); ++row) {
        if (m_files.at(row).thumbnailLink == link) {
            const QModelIndex cell = index(row, NameColumn);
            emit dataChanged(cell, cell, {Qt::DecorationRole});
        }
    }
}

int DriveFileTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QString DriveFileTableModel::symbolName(const DriveFile &file)
{
    if (file.isFolder())
        return u"folder.fill"_s;
    return file.isGoogleDocument() ? u"doc.text.fill"_s : u"doc.fill"_s;
}

QString DriveFileTableModel::sizeText(const DriveFile &file)
{
    return file.isFolder() ? u"—"_s : formatByteCount(file.bytes());
}

QVariant DriveFileTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const DriveFile &f = m_files.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return DisplayText::shown(f.name);
        case ModifiedColumn:
            return LocalFileTableModel::modifiedText(
                f.modifiedTime ? std::optional<QDateTime>(f.modifiedDate()) : std::nullopt);
        case SizeColumn:
            return sizeText(f);
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == NameColumn) {
            if (f.thumbnailLink) {
                const QPixmap thumbnail = m_thumbnails->image(*f.thumbnailLink);
                if (!thumbnail.isNull())
                    return thumbnail;
                m_thumbnails->request(*f.thumbnailLink);
            }
            QColor blue(0x3b, 0x82, 0xf6);
            blue.setAlphaF(0.8f);
            return Icons::symbol(symbolName(f), f.isFolder() ? Palette::teal() : blue)
                .pixmap(19, 19);
        }
        break;
    case Qt::ToolTipRole:
    case Qt::ForegroundRole:
    case Qt::TextAlignmentRole:
        return sharedCellData(index.column(), role, f.name);
    case IdRole:
        return f.id;
    case IsFolderRole:
        return f.isFolder();
    }
    return {};
}

QStringList DriveFileTableModel::mimeTypes() const
{
    return {QString(DragPayload::driveFileMimeType), QString(DragPayload::jsonMimeType)};
}

QMimeData *DriveFileTableModel::mimeData(const QModelIndexList &indexes) const
{
    QList<DriveFile> files;
    for (const int row : distinctRows(indexes))
        files.append(m_files.at(row));
    auto *mime = new QMimeData;
    DragPayload::setDriveFiles(*mime, files);
    return mime;
}

} // namespace Tarnwick
