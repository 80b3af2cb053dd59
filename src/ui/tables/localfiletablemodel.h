#pragma once

#include "tables/filetablemodel.h"

#include "browse/localfile.h"

#include <QList>

namespace Tarnwick {

// The rows of the local pane's table: the visible entries in the order the pane shows them.
// Rows change only as a whole (one reset per change), which is cheap for any folder size; the
// view paints only the rows on screen.
class LocalFileTableModel final : public FileTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LocalFileTableModel)

public:
    enum Role {
        PathRole = Qt::UserRole, // QString: the entry's path
        IsFolderRole,            // bool
        SizeRole,                // qint64
        ModifiedRole,            // QDateTime, invalid when missing
    };

    explicit LocalFileTableModel(QObject *parent = nullptr);

    void setFiles(QList<LocalFile> files);
    const QList<LocalFile> &files() const { return m_files; }
    const LocalFile &file(int row) const { return m_files.at(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QStringList mimeTypes() const override;
    // The entries of the indexes as file URLs, one per row.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    // "dd/MM/yy HH:mm" in local time, or "—".
    static QString modifiedText(const std::optional<QDateTime> &modified);
    // The byte count, or "—" for a folder.
    static QString sizeText(const LocalFile &file);

private:
    QString rowKey(int row) const override;
    QList<LocalFile> m_files;
};

} // namespace Tarnwick
