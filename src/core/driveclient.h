#pragma once

#include "driveaccount.h"
#include "driveapierror.h"
#include "drivefile.h"
#include "drivepermission.h"
#include "httprequest.h"
#include "httpresponse.h"

#include <QCoroTask>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <stop_token>
#include <utility>

namespace Tarnwick {

class HttpEngine;

// The one client of the Google Drive API v3 (Endpoints::current().api). Every operation sends its
// requests with a bearer token from the token source, retries once with a freshly refreshed token
// after a 401, and turns any status it does not accept into a DriveAPIError with the Vietnamese
// message the user reads. Operations that address an item check its ID before anything is sent.
//
// The client holds nothing but its session and its token source, so it is cheap to create and to
// copy. Operations are started and awaited on the main thread; any number may run at once. Each
// takes a stop token: a stop cancels the request in flight and ends the operation with Cancelled.
// The client must outlive the operations it started. Failures are thrown: TarnwickError for what
// the client detects itself, DriveAPIError for unexpected answers, DecodingError for an answer
// that does not fit its record, NetworkError for the transport, and whatever the token source
// throws, unchanged.
class DriveClient final
{
public:
    using Account = DriveAccount;
    // Supplies an access token; forceRefresh asks for a new one because Drive refused the last.
    using TokenSource =
        std::function<QCoro::Task<QString>(bool forceRefresh, std::stop_token stop)>;
    // Query parameters as name and value, not encoded; their order does not matter to Drive.
    using Query = QList<std::pair<QString, QString>>;

    // The inactivity limit of every authorized request.
    static constexpr std::chrono::seconds requestTimeout{120};
    // The fields of a single item wherever one is returned.
    static const QString itemFields;
    // The fields of a listing page.
    static const QString listFields;

    // session carries every request and must outlive the client. Sends nothing.
    DriveClient(HttpEngine &session, TokenSource token);

    // ---- browsing and item operations

    // The signed-in user's name, address and storage quota.
    QCoro::Task<Account> account(std::stop_token stop = {}) const;
    // Every item of a folder ("root" for the top of My Drive, a shared drive's ID for its top),
    // or of "shared with me" when sharedWithMe is set (then parent is ignored), not trashed, in
    // the server's order, read page after page to the end. A failed page fails the whole call.
    QCoro::Task<QList<DriveFile>> list(QString parent, bool sharedWithMe,
                                       std::stop_token stop = {}) const;
    // The shared drives the user belongs to, each presented as a folder with only ID and name.
    QCoro::Task<QList<DriveFile>> sharedDrives(std::stop_token stop = {}) const;
    // One item, wherever it lives (shared drives included).
    QCoro::Task<DriveFile> file(QString id, std::stop_token stop = {}) const;
    // Creates a folder under the trimmed name (checked by UploadUtilities::validateName first)
    // and returns it.
    QCoro::Task<DriveFile> createFolder(QString name, QString parent,
                                        std::stop_token stop = {}) const;
    QCoro::Task<> rename(DriveFile file, QString name, std::stop_token stop = {}) const;
    // Moves the item to the Drive trash.
    QCoro::Task<> trash(DriveFile file, std::stop_token stop = {}) const;
    // Removes the item for good; only 200 and 204 count as success.
    QCoro::Task<> deletePermanently(DriveFile file, std::stop_token stop = {}) const;

    // ---- permissions and share links

    // Everyone who may use the item; empty when Drive lists nobody.
    QCoro::Task<QList<DrivePermission>> listPermissions(QString fileId,
                                                        std::stop_token stop = {}) const;
    // Gives the person with this address (trimmed; it must contain "@") the role on the item,
    // with or without Drive's notification mail, and returns the new permission.
    QCoro::Task<DrivePermission> addPermission(QString fileId, QString email, QString role,
                                               bool sendNotificationEmail,
                                               std::stop_token stop = {}) const;
    QCoro::Task<> updatePermissionRole(QString fileId, QString permissionId, QString newRole,
                                       std::stop_token stop = {}) const;
    QCoro::Task<> deletePermission(QString fileId, QString permissionId,
                                   std::stop_token stop = {}) const;
    // Lets anyone with the link view the item and returns the link. A refused public permission
    // (an organisation that forbids public links) is ignored: the item's link still comes back.
    QCoro::Task<QString> createShareLink(QString fileId, std::stop_token stop = {}) const;

private:
    // The statuses that count as success unless an operation says otherwise.
    static QList<int> defaultAccepted() { return {200, 201, 204, 308}; }

    // The request layer. Uploads and downloads send their own HttpRequest (body source, sink,
    // progress) through the same steps.

    // One attempt: checks the stop token, refuses a URL that is not the configured API endpoint
    // (the token goes nowhere else), sets the inactivity limit and the bearer token (a forced
    // refresh when asked) and sends. Returns any status; throws TarnwickError when the answer
    // carries none.
    QCoro::Task<HttpResponse> sendAuthorized(HttpRequest request, bool forceRefresh,
                                             std::stop_token stop) const;
    // Sends with one silent retry after a 401, returning the answer when its status is accepted
    // and throwing apiError() otherwise.
    QCoro::Task<HttpResponse> authorized(HttpRequest request, QList<int> accepted,
                                         std::stop_token stop) const;
    // What Google's error answer means for the user.
    static DriveAPIError apiError(const QByteArray &data, int status);

    // A request to the API endpoint's path with the query fully percent-encoded.
    static HttpRequest apiRequest(QByteArray method, const QString &path, const Query &query);
    // The same with a JSON object as its body.
    static HttpRequest jsonRequest(QByteArray method, const QString &path, const Query &query,
                                   const QJsonObject &body);
    static QString filePath(const QString &id);
    // Throws TarnwickError unless id is non-empty and only letters, digits, "-" and "_".
    static void checkItemID(const QString &id);
    // A value for a single-quoted literal in a search query.
    static QString escapeQueryLiteral(const QString &text);

    HttpEngine *m_session;
    TokenSource m_token;
};

} // namespace Tarnwick
