#include "drive/driveclient.h"

#include "net/endpoints.h"
#include "drive/jsonreader.h"
#include "records/errors.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

QString permissionsPath(const QString &fileId)
{
    return u"/drive/v3/files/"_s + fileId + u"/permissions"_s;
}

QString permissionPath(const QString &fileId, const QString &permissionId)
{
    return permissionsPath(fileId) + u'/' + permissionId;
}

} // namespace

QCoro::Task<QList<DrivePermission>> DriveClient::listPermissions(QString fileId,
                                                                 std::stop_token stop) const
{
    checkItemID(fileId);
    HttpRequest request = apiRequest(
        "GET", permissionsPath(fileId),
        {{u"supportsAllDrives"_s, u"true"_s},
         {u"fields"_s, u"permissions(id,displayName,emailAddress,role,type,photoLink)"_s}});
    const QList<int> accepted = defaultAccepted();
    const HttpResponse response = co_await authorized(std::move(request), accepted, stop);
    const auto record = "PermissionList"_L1;
    const JsonReader reader(JsonReader::parseObject(response.body, record), record);
    QList<DrivePermission> permissions;
    if (const auto list = reader.optionalValue("permissions"_L1)) {
        if (!list->isArray())
            throw reader.wrongType("permissions"_L1, "an array"_L1);
        for (const QJsonValue &permission : list->toArray())
            permissions.append(
                DrivePermission::fromJson(JsonReader::asObject(permission, "DrivePermission"_L1)));
    }
    co_return permissions;
}

QCoro::Task<DrivePermission> DriveClient::addPermission(QString fileId, QString email, QString role,
                                                        bool sendNotificationEmail,
                                                        std::stop_token stop) const
{
    checkItemID(fileId);
    const QString address = email.trimmed();
    if (!address.contains(u'@'))
        throw TarnwickError(u"Địa chỉ email không hợp lệ."_s);
    const QJsonObject body{{"role"_L1, role}, {"type"_L1, u"user"_s}, {"emailAddress"_L1, address}};
    HttpRequest request =
        jsonRequest("POST", permissionsPath(fileId),
                    {{u"supportsAllDrives"_s, u"true"_s},
                     {u"sendNotificationEmail"_s, sendNotificationEmail ? u"true"_s : u"false"_s},
                     {u"fields"_s, u"id,displayName,emailAddress,role,type,photoLink"_s}},
                    body);
    const QList<int> accepted = QList<int>{200, 201};
    const HttpResponse response = co_await authorized(std::move(request), accepted, stop);
    co_return DrivePermission::fromJsonBytes(response.body);
}

QCoro::Task<> DriveClient::updatePermissionRole(QString fileId, QString permissionId,
                                                QString newRole, std::stop_token stop) const
{
    checkItemID(fileId);
    checkItemID(permissionId);
    HttpRequest request =
        jsonRequest("PATCH", permissionPath(fileId, permissionId),
                    {{u"supportsAllDrives"_s, u"true"_s}}, QJsonObject{{"role"_L1, newRole}});
    const QList<int> accepted = defaultAccepted();
    co_await authorized(std::move(request), accepted, stop);
}

QCoro::Task<> DriveClient::deletePermission(QString fileId, QString permissionId,
                                            std::stop_token stop) const
{
    checkItemID(fileId);
    checkItemID(permissionId);
    HttpRequest request = apiRequest("DELETE", permissionPath(fileId, permissionId),
                                     {{u"supportsAllDrives"_s, u"true"_s}});
    const QList<int> accepted = QList<int>{200, 204};
    co_await authorized(std::move(request), accepted, stop);
}

QCoro::Task<QString> DriveClient::createShareLink(QString fileId, std::stop_token stop) const
{
    auto making = shareLink(std::move(fileId), stop);
    const ShareLink made = co_await making;
    co_return made.link;
}

QCoro::Task<DriveClient::ShareLink> DriveClient::shareLink(QString fileId,
                                                           std::stop_token stop) const
{
    checkItemID(fileId);
    const QJsonObject body{{"role"_L1, u"reader"_s}, {"type"_L1, u"anyone"_s}};
    ShareLink made;
    bool cancelled = false;
    try {
        HttpRequest request = jsonRequest("POST", permissionsPath(fileId),
                                          {{u"supportsAllDrives"_s, u"true"_s}}, body);
        const QList<int> accepted = QList<int>{200, 201};
        co_await authorized(std::move(request), accepted, stop);
    } catch (const Cancelled &) {
        cancelled = true;
    } catch (const std::exception &e) {
        // A refused public link (an organisation's policy, missing rights) still leaves the item's
        // own link to hand out.
        made.publicRefusal = describe(e);
    }
    if (cancelled)
        throw Cancelled();
    const DriveFile item = co_await file(fileId, stop);
    if (item.webViewLink && !item.webViewLink->isEmpty())
        made.link = *item.webViewLink;
    else
        made.link = Endpoints::current().driveWeb.toString(QUrl::StripTrailingSlash) +
            u"/file/d/"_s + fileId + u"/view?usp=sharing"_s;
    co_return made;
}

} // namespace Tarnwick
