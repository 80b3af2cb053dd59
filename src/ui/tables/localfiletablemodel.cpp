#include "tables/localfiletablemodel.h"

#include "common/fileiconcache.h"

#include "records/byteformat.h"
#include "records/displaytext.h"

#include <QMimeData>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace Tarnwick {

LocalFileTableModel::LocalFileTableModel(QObject *parent)
    : FileTableModel(parent)
{
}

void LocalFileTableModel::setFiles(QList<LocalFile> files)
{
    beginResetModel();
    m_files = std::move(files);
    forgetRowKeys();
    endResetModel();
}

QString LocalFileTableModel::rowKey(int row) const
{
    return m_files.at(row).url;
}

int LocalFileTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

QVariant LocalFileTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const LocalFile &f = m_files.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return DisplayText::shown(f.name());
        case ModifiedColumn:
            return modifiedText(f.modified);
        case SizeColumn:
            return sizeText(f);
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == NameColumn)
            return FileIconCache::shared().icon(f.url, f.isFolder);
        break;
    case Qt::ToolTipRole:
    case Qt::ForegroundRole:
    case Qt::TextAlignmentRole:
        return sharedCellData(index.column(), role, f.name());
    case PathRole:
        return f.url;
    case IsFolderRole:
        return f.isFolder;
    case SizeRole:
        return f.size;
    case ModifiedRole:
        return f.modified.value_or(QDateTime());
    }
    return {};
}

QStringList LocalFileTableModel::mimeTypes() const
{
    return {u"text/uri-list"_s};
}

QMimeData *LocalFileTableModel::mimeData(const QModelIndexList &indexes) const
{
    QList<QUrl> urls;
    for (const int row : distinctRows(indexes))
        urls.append(QUrl::fromLocalFile(m_files.at(row).url));
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

QString LocalFileTableModel::modifiedText(const std::optional<QDateTime> &modified)
{
    if (!modified || !modified->isValid())
        return u"—"_s;
    return modified->toLocalTime().toString(u"dd/MM/yy HH:mm"_s);
}

QString LocalFileTableModel::sizeText(const LocalFile &file)
{
    return file.isFolder ? u"—"_s : formatByteCount(file.size);
}

} // namespace Tarnwick
