#include "appmodel.h"

#include "async/async.h"
#include "desktop.h"
#include "drive/driveclient.h"
#include "browse/sharesheetform.h"
#include "stepoutcome.h"

#include <QPointer>

using namespace Qt::StringLiterals;

namespace Tarnwick {

bool AppModel::isSharing(const DriveFile &file) const
{
    return m_sharingFile && m_sharingFile->id == file.id;
}

void AppModel::openShare(const DriveFile &file)
{
    publish(m_sharingFile, std::optional<DriveFile>(file), &AppModel::sharingFileChanged);
    publish(m_sharingPermissions, QList<DrivePermission>(), &AppModel::sharingPermissionsChanged);
    publish(m_sharingError, std::optional<QString>(), &AppModel::sharingErrorChanged);
    detach(loadPermissions(file), {});
}

void AppModel::closeShare()
{
    m_permissionsVersion = QUuid::createUuid();
    publish(m_sharingFile, std::optional<DriveFile>(), &AppModel::sharingFileChanged);
    publish(m_loadingPermissions, false, &AppModel::loadingPermissionsChanged);
}

QCoro::Task<> AppModel::loadPermissions(DriveFile file)
{
    QPointer<AppModel> self(this);
    const QUuid token = QUuid::createUuid();
    m_permissionsVersion = token;
    publish(m_loadingPermissions, true, &AppModel::loadingPermissionsChanged);

    const DriveClient client = drive();
    auto listing = settle(client.listPermissions(file.id, m_lifetime.source.get_token()));
    StepOutcome<QList<DrivePermission>> listed = co_await listing;
    // The list is the shown item's: an answer for an item no longer shown, or one overtaken by
    // a newer load, would put the wrong people in it.
    if (!self || m_permissionsVersion != token)
        co_return;
    if (isSharing(file)) {
        if (listed.value)
            publish(m_sharingPermissions, std::move(*listed.value),
                    &AppModel::sharingPermissionsChanged);
        else if (listed.failure)
            publish(m_sharingError, listed.failure, &AppModel::sharingErrorChanged);
    }
    publish(m_loadingPermissions, false, &AppModel::loadingPermissionsChanged);
}

QCoro::Task<> AppModel::updateCollaboratorRole(DriveFile file, DrivePermission permission,
                                               QString newRole)
{
    QPointer<AppModel> self(this);
    const DriveClient client = drive();
    auto updating =
        client.updatePermissionRole(file.id, permission.id, newRole, m_lifetime.source.get_token());
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
    setToastMessage(u"Đã cập nhật vai trò"_s);
}

QCoro::Task<> AppModel::copyShareLink(DriveFile file)
{
    const DriveClient client = drive();
    auto sharing = proceed(
        this, client.shareLink(file.id, m_lifetime.source.get_token()),
        [this](QString failure) { setError(u"Không tạo được link chia sẻ: "_s + failure); });
    const std::optional<DriveClient::ShareLink> made = co_await sharing;
    if (!made)
        co_return;
    // A link Drive would not make public opens only for those already invited: handing it out as
    // a share link would mislead.
    if (made->publicRefusal) {
        setError(u"Không tạo được link chia sẻ: "_s + *made->publicRefusal);
        co_return;
    }
    m_desktop->copyText(made->link);
    setToastMessage(u"Đã sao chép link chia sẻ: "_s + file.name);
}

QCoro::Task<> AppModel::addCollaborator(ShareSheetForm *form)
{
    if (!form || !m_sharingFile || form->isAdding())
        co_return;
    QPointer<AppModel> self(this);
    QPointer<ShareSheetForm> sheet(form);
    const DriveFile file = *m_sharingFile;
    const QString email = form->email().trimmed();
    if (!email.contains(u'@')) {
        form->setLocalError(u"Vui lòng nhập địa chỉ email hợp lệ."_s);
        co_return;
    }
    form->setLocalError(std::nullopt);
    form->setAdding(true);

    const DriveClient client = drive();
    auto adding = settle(client.addPermission(file.id, email, form->role(), form->sendNotify(),
                                              m_lifetime.source.get_token()));
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
    setToastMessage(u"Đã chia sẻ cho "_s + email);
}

QCoro::Task<> AppModel::removeCollaborator(ShareSheetForm *form, DrivePermission permission)
{
    if (!m_sharingFile)
        co_return;
    QPointer<AppModel> self(this);
    QPointer<ShareSheetForm> sheet(form);
    const DriveFile file = *m_sharingFile;
    const DriveClient client = drive();
    auto removing =
        settle(client.deletePermission(file.id, permission.id, m_lifetime.source.get_token()));
    const StepOutcome<void> removed = co_await removing;
    // The sheet hears of a failure even when the model is gone.
    if (removed.failure && sheet)
        sheet->setLocalError(removed.failure);
    if (!removed.done() || !self)
        co_return;
    if (isSharing(file) && m_sharingPermissions.removeAll(permission) > 0)
        emit sharingPermissionsChanged();
    setToastMessage(u"Đã xoá quyền truy cập"_s);
}

} // namespace Tarnwick
