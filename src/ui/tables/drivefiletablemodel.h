#pragma once

#include "tables/localfiletablemodel.h"

#include "drive/drivefile.h"

#include <QList>

namespace Tarnwick {

class DriveThumbnailCache;

// The rows of the Drive pane's table: the visible items in the order the pane shows them,
// replaced as a whole. Columns and the folder role match the local table so that both panes
// share the view and its delegate. The name column shows the item's cached thumbnail, or a
// symbol while there is none (a missing thumbnail is requested on first paint).
class DriveFileTableModel final : public FileTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DriveFileTableModel)

public:
    enum Role {
        IdRole = LocalFileTableModel::PathRole, // QString: the Drive ID
        IsFolderRole = LocalFileTableModel::IsFolderRole,
    };

    // thumbnails is not owned; nullptr means the shared cache.
    explicit DriveFileTableModel(DriveThumbnailCache *thumbnails = nullptr,
                                 QObject *parent = nullptr);

    void setFiles(QList<DriveFile> files);
    const QList<DriveFile> &files() const { return m_files; }
    const DriveFile &file(int row) const { return m_files.at(row); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QStringList mimeTypes() const override;
    // The items of the indexes as Drive item payloads.
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

    // The symbol shown while an item has no thumbnail.
    static QString symbolName(const DriveFile &file);
    // The byte count, or "—" for a folder.
    static QString sizeText(const DriveFile &file);

private:
    QString rowKey(int row) const override;
    void thumbnailReady(const QString &link);

    DriveThumbnailCache *m_thumbnails;
    QList<DriveFile> m_files;
};

} // namespace Tarnwick
