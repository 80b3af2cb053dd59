#pragma once

#include "drive/driveclient.h"
#include "drive/drivefile.h"
#include "drive/drivepermission.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QUuid>

// moc cannot parse the standard library's concepts, which <stop_token> pulls in first.
#ifndef Q_MOC_RUN
#include <stop_token>
#endif

#include <optional>

namespace Tarnwick {

class Desktop;
class ShareSheetForm;

// The sharing slice of the window: the item the share sheet shows, its collaborators and what
// the sheet does with them. Successes and failures that are not the sheet's own go out as
// notice() and failed(), which the model shows as its toast and its alert.
//
// Answers that arrive late are guarded: the list is published only while the same item is still
// shown and no newer load has started. Main thread only.
class Sharing final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Sharing)

public:
    // desktop is not owned and outlives the slice; drive is its own copy of the model's client.
    Sharing(Desktop &desktop, DriveClient drive, QObject *parent = nullptr);
    // Ends the requests still running.
    ~Sharing() override;

    // The item the share sheet shows; the sheet is open while it is present.
    const std::optional<DriveFile> &sharingFile() const { return m_sharingFile; }
    // Its collaborators as Drive listed them, then the ones added since.
    const QList<DrivePermission> &sharingPermissions() const { return m_sharingPermissions; }
    bool loadingPermissions() const { return m_loadingPermissions; }
    // Why loading the list failed; cleared only by openShare.
    const std::optional<QString> &sharingError() const { return m_sharingError; }

    // Shows the share sheet for the item with an empty list and starts loading it.
    void openShare(const DriveFile &file);
    // Closes the share sheet; answers still running for it are dropped.
    void closeShare();
    // Reloads the list. A failure keeps the list and sets sharingError.
    QCoro::Task<> loadPermissions(DriveFile file);
    // Gives the person a new role. Throws the failure to the caller (the sheet shows it).
    QCoro::Task<> updateCollaboratorRole(DriveFile file, DrivePermission permission,
                                         QString newRole);
    // Makes the item readable by link and puts its link on the clipboard.
    QCoro::Task<> copyShareLink(DriveFile file);
    // The sheet's add action for sharingFile: the trimmed address must contain "@"; the new
    // permission is appended to the list. Outcomes land in the form.
    QCoro::Task<> addCollaborator(ShareSheetForm *form);
    // The sheet's remove action for one listed permission of sharingFile.
    QCoro::Task<> removeCollaborator(ShareSheetForm *form, DrivePermission permission);

signals:
    void sharingFileChanged();
    void sharingPermissionsChanged();
    void loadingPermissionsChanged();
    void sharingErrorChanged();
    // A short success notice (the window's toast).
    void notice(const QString &text);
    // A failure for the window's alert.
    void failed(const QString &message);

private:
    // Whether the answer of an action on `file` still belongs to the share sheet.
    bool isSharing(const DriveFile &file) const;

    Desktop &m_desktop;
    DriveClient m_drive;
    std::optional<DriveFile> m_sharingFile;
    QList<DrivePermission> m_sharingPermissions;
    bool m_loadingPermissions = false;
    std::optional<QString> m_sharingError;
    QUuid m_permissionsVersion = QUuid::createUuid(); // renewed per load and per sheet
    std::stop_source m_lifetime;
};

} // namespace Tarnwick
