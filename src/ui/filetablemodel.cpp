#include "filetablemodel.h"

#include "palette.h"

using namespace Qt::StringLiterals;

namespace Tarnwick {

FileTableModel::FileTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int FileTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case NameColumn:
            return u"Tên"_s;
        case ModifiedColumn:
            return u"Ngày sửa"_s;
        case SizeColumn:
            return u"Dung lượng"_s;
        }
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue((section == SizeColumn ? Qt::AlignRight : Qt::AlignLeft) |
                                   Qt::AlignVCenter);
    return {};
}

Qt::ItemFlags FileTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled |
           Qt::ItemNeverHasChildren;
}

QVariant FileTableModel::sharedCellData(int column, int role, const QString &name)
{
    switch (role) {
    case Qt::ToolTipRole:
        if (column == NameColumn)
            return name;
        break;
    case Qt::ForegroundRole:
        if (column != NameColumn)
            return Palette::muted();
        break;
    case Qt::TextAlignmentRole:
        if (column == SizeColumn)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

} // namespace Tarnwick
