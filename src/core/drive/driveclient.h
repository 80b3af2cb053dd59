#pragma once

#include "drive/driveaccount.h"
#include "drive/driveapierror.h"
#include "drive/drivefile.h"
#include "drive/drivepermission.h"
#include "net/httprequest.h"
#include "net/httpresponse.h"
#include "records/uploadsession.h"

#include <QCoroTask>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <utility>

namespace Tarnwick {

class DrivePacer;
class HttpEngine;

// The one client of the Google Drive API v3 (Endpoints::current().api). Every operation sends its
// requests with a bearer token from the token source, retries once with a freshly refreshed token
// after a 401, and turns any status it does not accept into a DriveAPIError with the Vietnamese
// message the user reads. Operations that address an item check its ID before anything is sent.
//
// The client holds nothing but its session, its token source and a shared pacer (DrivePacer)
// through which every request of every copy goes, so it is cheap to create and to copy. Operations are started and awaited on the main thread; any number may run at once. Each
// takes a stop token: a stop cancels the request in flight and ends the operation with Cancelled.
// The client must outlive the operations it started. Failures are thrown: TarnwickError for what
// the client detects itself, DriveAPIError for unexpected answers, DecodingError for an answer
// that does not fit its record, NetworkError for the transport, and whatever the token source
// throws, unchanged.
struct DriveListingPage;

class DriveClient final
{
public:
    using Account = DriveAccount;
    // Supplies an access token; forceRefresh asks for a new one because Drive refused the last.
    using TokenSource =
        std::function<QCoro::Task<QString>(bool forceRefresh, std::stop_token stop)>;
    // Query parameters as name and value, not encoded; their order does not matter to Drive.
    using Query = QList<std::pair<QString, QString>>;
    // Bytes done and the total of a transfer; called on the main thread.
    using Progress = std::function<void(qint64 done, qint64 total)>;
    // Receives a resumable-upload session as soon as Google has opened it.
    using SessionHandler = std::function<void(const UploadSession &session)>;
    // Told when a request of this client starts waiting for Google's limits until the time of its
    // next try (waiting), and again with the same time when the wait is over.
    using LimitWaitHandler = std::function<void(const QDateTime &until, bool waiting)>;

    // The inactivity limit of every authorized request.
    static constexpr std::chrono::seconds requestTimeout{120};
    // The fields of a single item wherever one is returned.
    static const QString itemFields;
    // The fields of a listing page.
    static const QString listFields;

    // A listing that goes past either limit fails with listingTooLongMessage(): Drive keeps at
    // most 500,000 items in one folder, so more items, or page after page that never ends, is a
    // broken or hostile server, and reading on would only grow memory.
    struct ListingLimits
    {
        qsizetype pages = 5000;
        qsizetype items = 500'000;
    };
    static QString listingTooLongMessage();

    // session carries every request and must outlive the client. Sends nothing. Copies share the
    // client's pacer: every request of one account is paced as one.
    DriveClient(HttpEngine &session, TokenSource token);
    DrivePacer &pacer() const { return *m_pacer; }
    // For this copy only: a transfer learns when its own requests wait for Google's limits.
    void setLimitWaitHandler(LimitWaitHandler handler) { m_onLimitWait = std::move(handler); }
    // Tests lower the limits to reach them quickly.
    void setListingLimits(ListingLimits limits) { m_listingLimits = limits; }
    // With retries on, the requests that may safely be sent twice (reads, ID reservations,
    // upload-session opens and creates that carry a reserved ID) are sent again after a
    // transient failure (5xx, the network) with the uploads' waits of 2, 4, 8, 16 and 16 seconds
    // (longer when Google's Retry-After says so), six attempts in all, and then fail with the
    // last error. A refusal for Google's rate limits (429, or 403 with a rate-limit reason) uses
    // no attempt: it waits the pacer's backoff and fails only when the pacer gives up. Off by
    // default: a user browsing a folder sees a failure at once and has a retry button; the
    // transfer engine, which nobody watches request by request, turns it on.
    void setRetryingTransientFailures(bool on) { m_retrying = on; }

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
    // Creates a folder under the trimmed name (checked by DriveNames::validateName first)
    // and returns it. With `id` (one from generateIds) the folder gets that ID, so the create may
    // be sent again after its answer was lost: when Drive says the ID is taken, the item with
    // that ID is the result if it is a folder in `parent` and not trashed; otherwise the 409
    // DriveAPIError is thrown.
    QCoro::Task<DriveFile> createFolder(QString name, QString parent, std::stop_token stop = {},
                                        QString id = {}) const;
    // Reserves `count` (1 to 1000) IDs for later creates; each is checked like any item ID.
    QCoro::Task<QStringList> generateIds(int count, std::stop_token stop = {}) const;
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
    // The item's link and, when Drive refused to make it public, why: the link then opens only
    // for the people it is already shared with.
    struct ShareLink
    {
        QString link;
        std::optional<QString> publicRefusal;
    };
    QCoro::Task<ShareLink> shareLink(QString fileId, std::stop_token stop = {}) const;

    // ---- transfers

    // Puts the regular file at `file` (a local path; symbolic links are refused) into the folder
    // `parent` under its own name and returns the new item. Files of 1 to 5,242,880 bytes go in
    // one multipart request (falling back once to a resumable upload after a transient failure);
    // empty and larger files go through a resumable session, handed to onSession at once so the
    // caller can keep it, and sent in 8 MiB chunks. `resume` continues a kept session from the
    // last byte Google confirmed, provided the file's size and modification date are unchanged;
    // a session Google no longer knows is replaced by a new one. Transient failures (5xx, 429,
    // rate limits, the network) are retried after 2, 4, 8, 16 and 16 seconds, asking Google each
    // time what it holds. Progress never goes back while one session runs and never exceeds the
    // file size. File contents are read off the main thread and dropped from the page cache.
    // With `id` (one from generateIds) the new item gets that ID, whichever form carries it; when
    // Drive says the ID is taken (an earlier attempt's answer was lost), the item with that ID is
    // the result if it is a file in `parent`, not trashed and of the local file's size; otherwise
    // the 409 DriveAPIError is thrown.
    QCoro::Task<DriveFile> upload(QString file, QString parent, std::optional<UploadSession> resume,
                                  SessionHandler onSession, Progress progress,
                                  std::stop_token stop = {}, QString id = {}) const;

    // Copies the Drive file to `destination` (a local path; its folder is created; an existing
    // file there is replaced). The bytes stream on the network thread into the hidden part file
    // beside the destination (LocalNames::partPath), stamped with the remote version; a
    // later call continues a part file of the same version with a Range request, and a complete
    // one is moved into place without any request. Network failures are retried after 2, 4, 8,
    // 16 and 16 seconds, six attempts in all. The part file is flushed to disk and renamed over
    // the destination in one step, so the destination is never half-written. Folders and Google
    // documents are refused before anything is created. Cancelling keeps the part file.
    QCoro::Task<> download(DriveFile file, QString destination, Progress progress,
                           std::stop_token stop = {}) const;
    // What downloadPart() hands to putInPlace(): the size, and a small file's bytes, which stay
    // in memory until they go to disk in one step with the flush (a larger file, or one resumed,
    // is in its part file).
    struct DownloadedPart
    {
        qint64 size = 0;
        std::optional<QByteArray> bytes;
        QString stamp;
    };
    // Files up to this size arrive in memory when they start from the first byte: the network
    // thread writes no file, and a broken connection costs at most this much again.
    static constexpr qint64 inMemoryLimit = 256 << 10;
    // download() in its two halves, for callers that start the next file while the disk flushes
    // this one: downloadPart() fetches the file; putInPlace() writes what is still in memory,
    // flushes the complete part file and renames it over the destination, off the main thread.
    // The requests of downloadPart() go out on lane when one is given. `kept` is what
    // PartialDownload::resumableOffset() found for the part file, when the caller has asked the
    // disk already (off the main thread); otherwise it is asked here, off the main thread too.
    QCoro::Task<DownloadedPart> downloadPart(DriveFile file, QString destination,
                                             Progress progress, std::stop_token stop = {},
                                             std::shared_ptr<HttpLane> lane = {},
                                             std::optional<qint64> kept = {}) const;
    static QCoro::Task<> putInPlace(QString destination, DownloadedPart part);

    // ---- the readers of Google's answers, for tests and fuzzing

    // One page of a files or shared-drives listing: its items, and in next the following page's
    // token (missing at the end). seen holds SHA-256 digests of the tokens met before. Throws DecodingError.
    static QList<DriveFile> readFilePage(const QByteArray &body, QSet<QByteArray> &seen,
                                         std::optional<QString> &next);
    static QList<DriveFile> readDrivePage(const QByteArray &body, QSet<QByteArray> &seen,
                                          std::optional<QString> &next);
    // What Google's error answer means for the user.
    static QString storageFullMessage();
    static QString dailyUploadCapMessage();
    static DriveAPIError apiError(const HttpResponse &response);
    static DriveAPIError apiError(const QByteArray &data, int status);

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
    // Turns one listing answer into its items and the next page's token; seen (digests of the
    // tokens so far) catches repeats.
    using PageDecoder = DriveListingPage (*)(const QByteArray &body, QSet<QByteArray> &seen);
    // Reads every page of the listing at path, the fixed query plus pageToken from page two on,
    // within the listing limits.
    QCoro::Task<QList<DriveFile>> allPages(QString path, Query fixed, PageDecoder decode,
                                           std::stop_token stop) const;

    QCoro::Task<HttpResponse> authorized(HttpRequest request, QList<int> accepted,
                                         std::stop_token stop) const;
    // authorized() for a request that may be sent twice: with retries on, a transient failure is
    // sent again after the retry wait, checking the stop token, until the attempts run out.
    QCoro::Task<HttpResponse> retrying(HttpRequest request, QList<int> accepted,
                                       std::stop_token stop) const;
    // Retry counter values 0 to 4: at most five waits.
    static constexpr int lastRetry = 4;
    // 2, 4, 8, 16, 16 seconds for counter 0 to 4.
    static std::chrono::milliseconds retryWait(int counter);
    // Whether sending the same request again later may succeed: Google said so, or the network
    // failed on the way. Cancellation, the disk and our own checks are never retried.
    static bool isRetryable(const std::exception_ptr &failure);
    // The wait before a transient failure's retry number `counter`: retryWait(), or longer when
    // Google's Retry-After asks for it.
    static std::chrono::milliseconds transientWait(int counter, const std::exception_ptr &failure);
    // For a refusal for Google's rate limits: waits the pacer's backoff for the `refusals`-th
    // refusal in a row (counting it) and returns true; rethrows the refusal when the pacer gives
    // up. Returns false at once for any other failure.
    QCoro::Task<bool> waitOutRateLimit(int &refusals, std::exception_ptr failure,
                                       std::stop_token stop) const;

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

    // What a create with a reserved ID that Drive refused as taken (`conflict`, a 409) made
    // after all: the item with that ID when it is in `parent`, not trashed, a folder when
    // `folder`, and otherwise a file of `size` bytes. Throws `conflict` when it is not.
    QCoro::Task<DriveFile> itemOfTakenID(DriveAPIError conflict, QString id, QString parent,
                                         bool folder, qint64 size, std::stop_token stop) const;

    // Uploads (driveclient_upload.cpp).
    QCoro::Task<DriveFile> uploadAnyForm(QString file, QString parent,
                                         std::optional<UploadSession> resume,
                                         SessionHandler onSession, Progress progress,
                                         qint64 size, QDateTime modified, QString id,
                                         std::stop_token stop) const;
    QCoro::Task<DriveFile> uploadMultipart(QString file, QString parent, qint64 total, QString mime,
                                           QString id, Progress progress,
                                           std::stop_token stop) const;
    // Opens a session and sends the file; when Google forgets the session midway (404, 410) and
    // mayRestart, opens one new session and sends again from byte 0.
    QCoro::Task<DriveFile> uploadResumable(QString file, QString parent, qint64 total, QString mime,
                                           QDateTime modified, QString id,
                                           SessionHandler onSession, Progress progress,
                                           bool mayRestart, std::stop_token stop) const;
    // Missing when the session is gone or untrusted and the caller must start over.
    QCoro::Task<std::optional<DriveFile>> continueResumable(UploadSession session, QString file,
                                                            qint64 total, Progress progress,
                                                            std::stop_token stop) const;
    QCoro::Task<DriveFile> sendResumable(QUrl url, QString file, qint64 total, QString mime,
                                         qint64 offset, Progress progress,
                                         std::stop_token stop) const;
    // The status query of a session: what Google holds, or the item when it is complete; sent
    // through retrying() when `retry`, otherwise once (a caller with its own recovery loop).
    QCoro::Task<HttpResponse> askUploadStatus(QUrl url, qint64 total, bool retry,
                                              std::stop_token stop) const;
    // authorized() with upload progress: alreadySent plus the body bytes sent, at most
    // expectedTotal.
    QCoro::Task<HttpResponse> authorizedUpload(HttpRequest request, QList<int> accepted,
                                               qint64 expectedTotal, qint64 alreadySent,
                                               Progress progress, std::stop_token stop) const;

    // Downloads (driveclient_download.cpp): the attempts that fill the part file until it holds
    // the whole file; returns its size.
    QCoro::Task<DownloadedPart> fillPart(DriveFile file, QString part, QString stamp,
                                         Progress progress, std::stop_token stop,
                                         std::shared_ptr<HttpLane> lane,
                                         std::optional<qint64> known) const;
    // One GET into the part file from offset, or into memory for a small file from its start;
    // returns the answer whatever its status (the body when it is not a success, or when it was
    // kept in memory).
    QCoro::Task<HttpResponse> downloadAttempt(DriveFile file, QString part, QString stamp,
                                              qint64 offset, bool forceRefresh, Progress progress,
                                              std::stop_token stop,
                                              std::shared_ptr<HttpLane> lane) const;

    HttpEngine *m_session;
    TokenSource m_token;
    std::shared_ptr<DrivePacer> m_pacer;
    LimitWaitHandler m_onLimitWait;
    ListingLimits m_listingLimits;
    bool m_retrying = false;
};

} // namespace Tarnwick
