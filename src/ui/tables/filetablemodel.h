#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QItemSelection>
#include <QSet>

namespace Tarnwick {

// What the local and the Drive tables have in common: the name, date and size columns with
// their headers, rows that are selectable and dragged as copies, and finding rows by their items'
// keys (an entry's path, a Drive item's ID). Subclasses supply the rows and their keys.
class FileTableModel : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileTableModel)

public:
    enum Column { NameColumn, ModifiedColumn, SizeColumn, ColumnCount };

    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

    // The row showing the item with key; -1 when it is not shown.
    int rowOf(const QString &key) const;
    // The whole rows showing the items with keys, in runs of adjacent rows.
    QItemSelection selectionOf(const QSet<QString> &keys) const;
    // The keys of the items in rows.
    QSet<QString> keysOf(const QModelIndexList &rows) const;

protected:
    explicit FileTableModel(QObject *parent = nullptr);

    // The key of the item in row.
    virtual QString rowKey(int row) const = 0;
    // Subclasses call this whenever they replace their rows.
    void forgetRowKeys() { m_rows.clear(); }

    // The tooltip, colour and alignment of a cell in column, for a row named name.
    static QVariant sharedCellData(int column, int role, const QString &name);
    // The valid rows of indexes, each once, in the order they first appear.
    static QList<int> distinctRows(const QModelIndexList &indexes);

private:
    mutable QHash<QString, int> m_rows; // built on first lookup after a reset
};

} // namespace Tarnwick
