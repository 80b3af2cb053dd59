#include "browse/sharing.h"

#include "async/async.h"
#include "browse/sharesheetform.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "publish.h"
#include "stepoutcome.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace Tarnwick {

Sharing::Sharing(Desktop &desktop, DriveClient drive, QObject *parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_drive(std::move(drive))
{
}

Sharing::~Sharing()
{
    m_lifetime.request_stop();
}

bool Sharing::isSharing(const DriveFile &file) const
{
    return m_sharingFile && m_sharingFile->id == file.id;
}

void Sharing::openShare(const DriveFile &file)
{
    publish(this, m_sharingFile, std::optional<DriveFile>(file), &Sharing::sharingFileChanged);
    publish(this, m_sharingPermissions, QList<DrivePermission>(),
            &Sharing::sharingPermissionsChanged);
    publish(this, m_sharingError, std::optional<QString>(), &Sharing::sharingErrorChanged);
    detach(loadPermissions(file), {});
}

void Sharing::closeShare()
{
    m_permissionsVersion = QUuid::createUuid();
    publish(this, m_sharingFile, std::optional<DriveFile>(), &Sharing::sharingFileChanged);
    publish(this, m_loadingPermissions, false, &Sharing::loadingPermissionsChanged);
}

QCoro::Task<> Sharing::loadPermissions(DriveFile file)
{
    QPointer<Sharing> self(this);
    const QUuid token = QUuid::createUuid();
    m_permissionsVersion = token;
    publish(this, m_loadingPermissions, true, &Sharing::loadingPermissionsChanged);

    const DriveClient client = m_drive;
    auto listing = settle(client.listPermissions(file.id, m_lifetime.get_token()));
    StepOutcome<QList<DrivePermission>> listed = co_await listing;
    // The list is the shown item's: an answer for an item no longer shown, or one overtaken by
    // a newer load, would put the wrong people in it.
    if (!self || m_permissionsVersion != token)
        co_return;
    if (isSharing(file)) {
        if (listed.value)
            publish(this, m_sharingPermissions, std::move(*listed.value),
                    &Sharing::sharingPermissionsChanged);
        else if (listed.failure)
            publish(this, m_sharingError, listed.failure, &Sharing::sharingErrorChanged);
    }
    publish(this, m_loadingPermissions, false, &Sharing::loadingPermissionsChanged);
}

QCoro::Task<> Sharing::updateCollaboratorRole(DriveFile file, DrivePermission permission,
                                              QString newRole)
{
    QPointer<Sharing> self(this);
    const DriveClient client = m_drive;
    auto updating =
        client.updatePermissionRole(file.id, permission.id, newRole, m_lifetime.get_token());
    co_await updating;
    if (!self)
        co_return;
    if (isSharing(file)) {
        for (DrivePermission &entry : m_sharingPermissions) {
            if (entry.id == permission.id) {
                entry = permission;
                entry.role = newRole;
                emit sharingPermissionsChanged();
                break;
            }
        }
    }
    emit notice(u"Đã cập nhật vai trò"_s);
}

QCoro::Task<> Sharing::copyShareLink(DriveFile file)
{
    const DriveClient client = m_drive;
    auto sharing =
        proceed(this, client.shareLink(file.id, m_lifetime.get_token()), [this](QString failure) {
            emit failed(u"Không tạo được link chia sẻ: "_s + failure);
        });
    const std::optional<DriveClient::ShareLink> made = co_await sharing;
    if (!made)
        co_return;
    // A link Drive would not make public opens only for those already invited: handing it out as
    // a share link would mislead.
    if (made->publicRefusal) {
        emit failed(u"Không tạo được link chia sẻ: "_s + *made->publicRefusal);
        co_return;
    }
    m_desktop.copyText(made->link);
    emit notice(u"Đã sao chép link chia sẻ: "_s + file.name);
}

QCoro::Task<> Sharing::addCollaborator(ShareSheetForm *form)
{
    if (!form || !m_sharingFile || form->isAdding())
        co_return;
    QPointer<Sharing> self(this);
    QPointer<ShareSheetForm> sheet(form);
    const DriveFile file = *m_sharingFile;
    const QString email = form->email().trimmed();
    if (!email.contains(u'@')) {
        form->setLocalError(u"Vui lòng nhập địa chỉ email hợp lệ."_s);
        co_return;
    }
    form->setLocalError(std::nullopt);
    form->setAdding(true);

    const DriveClient client = m_drive;
    auto adding = settle(client.addPermission(file.id, email, form->role(), form->sendNotify(),
                                              m_lifetime.get_token()));
    const StepOutcome<DrivePermission> added = co_await adding;
    if (sheet) {
        if (added.done())
            sheet->setEmail(QString());
        else if (added.failure)
            sheet->setLocalError(added.failure);
        sheet->setAdding(false);
    }
    if (!self || !added.done())
        co_return;
    if (isSharing(file)) {
        m_sharingPermissions.append(*added.value);
        emit sharingPermissionsChanged();
    }
    emit notice(u"Đã chia sẻ cho "_s + email);
}

QCoro::Task<> Sharing::removeCollaborator(ShareSheetForm *form, DrivePermission permission)
{
    if (!m_sharingFile)
        co_return;
    QPointer<Sharing> self(this);
    QPointer<ShareSheetForm> sheet(form);
    const DriveFile file = *m_sharingFile;
    const DriveClient client = m_drive;
    auto removing = settle(client.deletePermission(file.id, permission.id, m_lifetime.get_token()));
    const StepOutcome<void> removed = co_await removing;
    // The sheet hears of a failure even when the model is gone.
    if (removed.failure && sheet)
        sheet->setLocalError(removed.failure);
    if (!removed.done() || !self)
        co_return;
    if (isSharing(file) && m_sharingPermissions.removeAll(permission) > 0)
        emit sharingPermissionsChanged();
    emit notice(u"Đã xoá quyền truy cập"_s);
}

} // namespace Tarnwick
