#pragma once

#include <QAbstractTableModel>

namespace Tarnwick {

// What the local and the Drive tables have in common: the name, date and size columns with
// their headers, and rows that are selectable and dragged as copies. Subclasses supply the rows.
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

protected:
    explicit FileTableModel(QObject *parent = nullptr);

    // The tooltip, colour and alignment of a cell in column, for a row named name.
    static QVariant sharedCellData(int column, int role, const QString &name);
};

} // namespace Tarnwick
