#include "tables/filetablemodel.h"

#include "common/palette.h"

#include "records/displaytext.h"

#include <QTextDocument>

#include <algorithm>

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

int FileTableModel::rowOf(const QString &key) const
{
    const int rows = rowCount();
    if (m_rows.isEmpty() && rows > 0) {
        m_rows.reserve(rows);
        for (int row = 0; row < rows; ++row)
            m_rows.insert(rowKey(row), row);
    }
    return m_rows.value(key, -1);
}

QItemSelection FileTableModel::selectionOf(const QSet<QString> &keys) const
{
    QList<int> rows;
    for (const QString &key : keys) {
        const int row = rowOf(key);
        if (row >= 0)
            rows.append(row);
    }
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        selection.select(index(rows.at(i), 0), index(rows.at(j), ColumnCount - 1));
        i = j + 1;
    }
    return selection;
}

QSet<QString> FileTableModel::keysOf(const QModelIndexList &rows) const
{
    QSet<QString> keys;
    keys.reserve(rows.size());
    for (const QModelIndex &index : rows)
        keys.insert(rowKey(index.row()));
    return keys;
}

QList<int> FileTableModel::distinctRows(const QModelIndexList &indexes)
{
    QList<int> rows;
    QSet<int> seen;
    for (const QModelIndex &index : indexes) {
        if (index.isValid() && !seen.contains(index.row())) {
            seen.insert(index.row());
            rows.append(index.row());
        }
    }
    return rows;
}

QVariant FileTableModel::sharedCellData(int column, int role, const QString &name)
{
    switch (role) {
    case Qt::ToolTipRole:
        // Always rich text around the escaped name, so a name that looks like markup shows as
        // the characters it is.
        if (column == NameColumn)
            return Qt::convertFromPlainText(DisplayText::shown(name, DisplayText::messageLimit),
                                            Qt::WhiteSpaceNormal);
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
