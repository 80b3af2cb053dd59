#pragma once

#include "faults/faultrule.h"
#include "faults/limits.h"
#include "server/requestrecord.h"
#include "testaccount.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>

namespace Tarnwick::Emulator {

// A local Google Drive v3 and OAuth 2.0 server on 127.0.0.1, as strict as Google: the ground truth
// of integration tests, benchmarks and the offline demo. It serves on one port, on its own
// threads:
//   /drive/v3/...          about, files (list/get/create/update/delete, alt=media with Range),
//                          drives, permissions
//   /upload/drive/v3/files multipart, simple and resumable uploads (308, Range, 256 KiB rule)
//   /o/oauth2/v2/auth      consent page (or at once with autoConsent), redirect with code/state
//   /token, /revoke        code exchange with PKCE S256, refresh, revocation
//   /tarnwick/latest.json  the update manifest
//   /thumbnails/ID, /file/d/ID/view, /drive/folders/ID   pages without a token
//   /__control/...         the HTTP form of the control calls below (see README.md)
// Every method is thread-safe. Typical test use:
//   DriveEmulator emu;  emu.start();
//   const TestAccount a = emu.addTestAccount();
//   // point Tarnwick at emu.baseUrl(), authorize with a.accessToken, ...
//   emu.addFault(FaultRule::respond(503, u"PUT"_s, u"^/upload/"_s));
//   for (const RequestRecord &r : emu.requestLog()) ...
class DriveEmulator final
{
public:
    struct Options
    {
        quint16 port = 0;         // 0: any free port
        QString seedFile;         // JSON world (see README.md); relative contents resolve beside it
        QByteArray seedJson;      // used when seedFile is empty; empty: an empty world
        QString dataDir;          // persist state and contents here; empty: in memory
        QStringList accessTokens; // bearer tokens that never expire, for the first user
        bool autoConsent = false; // the authorization endpoint approves at once
        bool verbose = false;     // one line per request on stderr
        bool control = true;      // the /__control/ endpoints; off: they answer 404
        LimitSettings limits;     // Google's per-user limits; all off by default
        // The clock of the limits (buckets, windows, days); advanceClock() moves it too. Empty:
        // the steady clock. Tests pass one that stands still, so time moves only when they say.
        Limits::Clock limitClock;
    };

    struct Notification // a sharing e-mail the emulator "sent"
    {
        QString from;
        QString to;
        QString fileId;
        QString role;
        QString message;
        bool operator==(const Notification &other) const = default;
    };

    // Loads the saved state of dataDir, else the seed. Throws std::runtime_error on a bad seed.
    DriveEmulator();
    explicit DriveEmulator(Options options);
    ~DriveEmulator();
    DriveEmulator(const DriveEmulator &) = delete;
    DriveEmulator &operator=(const DriveEmulator &) = delete;

    // Starts listening (throws std::runtime_error when the port is taken); stop() saves and
    // closes every connection.
    void start();
    // Listens on port instead of the one in the options (0: any free port).
    void start(quint16 port);
    void stop();
    bool isRunning() const;
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    // ---- the world
    void reset();                            // back to the seed
    void reseed(const QByteArray &seedJson); // throws std::runtime_error
    QJsonObject stateJson() const;           // the persisted form

    // ---- accounts, tokens, time
    // A user (created when missing), a desktop OAuth client and live tokens, in one call.
    TestAccount addTestAccount(const QString &email = QStringLiteral("an.nguyen@example.com"),
                               const QString &displayName = {},
                               std::optional<qint64> quotaLimit = std::nullopt);
    void addUser(const QString &email, const QString &displayName = {},
                 std::optional<qint64> quotaLimit = std::nullopt, qint64 otherUsage = 0);
    void addOAuthClient(const QString &clientId, const QString &clientSecret, bool testing = false,
                        const QStringList &testUsers = {});
    // lifetime 0: the configured lifetime; negative: never expires.
    QString issueAccessToken(const QString &email, std::chrono::seconds lifetime = {},
                             const QString &scope = {});
    QString issueRefreshToken(const QString &email, const QString &clientId);
    bool expireAccessToken(const QString &token);
    void expireAllAccessTokens();
    bool revokeToken(const QString &token); // access or refresh token
    void revokeAllRefreshTokens();
    void setAccessTokenLifetime(std::chrono::seconds lifetime);
    // The emulator's clock (token, code and session expiry, and the limits' clock) runs ahead by
    // this much more.
    void advanceClock(std::chrono::milliseconds by);
    QDateTime now() const;

    // ---- items (direct, without rights checks); parentId empty: the user's My Drive root
    QString rootFolderId(const QString &email) const;
    QString createFolder(const QString &email, const QString &name, const QString &parentId = {});
    QString createFile(const QString &email, const QString &name, const QByteArray &content,
                       const QString &parentId = {},
                       const QString &mimeType = QStringLiteral("application/octet-stream"));
    // Contents generated from (seed, offset): any size without memory; see generatedBytes().
    QString
    createGeneratedFile(const QString &email, const QString &name, qint64 size, quint64 seed,
                        const QString &parentId = {},
                        const QString &mimeType = QStringLiteral("application/octet-stream"));
    // type: "document", "spreadsheet", "presentation"...
    QString createGoogleDocument(const QString &email, const QString &name,
                                 const QString &parentId = {},
                                 const QString &type = QStringLiteral("document"));
    QString createShortcut(const QString &email, const QString &name, const QString &targetId,
                           const QString &parentId = {});
    // members: (e-mail, role) with roles organizer, fileOrganizer, writer, commenter, reader.
    QString createSharedDrive(const QString &name, const QList<QPair<QString, QString>> &members);
    // Adds a permission directly: type "user" for an e-mail, or "anyone" when email is empty.
    void share(const QString &itemId, const QString &email, const QString &role);
    void trash(const QString &itemId);
    bool exists(const QString &id) const;
    // The item as the API shows it to asUser (default: its owner or the first user). The default
    // fields "*" include checksums, which hashes the whole contents once.
    std::optional<QJsonObject> itemMetadata(const QString &id, const QString &asUser = {},
                                            const QString &fields = QStringLiteral("*")) const;
    QStringList childIds(const QString &parentId) const; // by name
    QString findChild(const QString &parentId, const QString &name) const;
    QByteArray content(const QString &id) const; // every byte: for small files
    QString contentSha256(const QString &id) const;
    QString contentMd5(const QString &id) const;
    qint64 usage(const QString &email) const;
    void setQuota(const QString &email, std::optional<qint64> limit, qint64 otherUsage = 0);

    // ---- faults and the request log
    int addFault(const FaultRule &rule); // throws std::invalid_argument for a bad path expression
    bool removeFault(int id);
    void clearFaults();
    QList<FaultRule> faults() const;
    int faultFired(int id) const;
    void setFaultRandomSeed(quint64 seed);
    QList<RequestRecord> requestLog(qint64 afterSequence = 0) const;
    void clearRequestLog();

    // ---- Google's limits (see LimitSettings); refusals are in the log with their `limit`
    void setLimits(const LimitSettings &limits); // buckets and windows keep their state
    LimitSettings limits() const;
    // Every limit off, every bucket, window, day and counter cleared.
    void resetLimits();
    // {"accepted","refused":{"queryRate","writeRate","backend429","dailyUpload"},"dayEndsInMs",
    //  "users":[{"user","writeTokens","queriesInWindow","uploadedToday"}]}
    QJsonObject limitCounters() const;

    // ---- uploads, listings, manifest, notifications
    QStringList uploadSessionIds() const;
    qint64 uploadSessionReceived(const QString &uploadId) const; // -1: unknown
    bool expireUploadSession(const QString &uploadId, int status = 404);
    void expireAllUploadSessions(int status = 404);
    // trailingEmptyPage: a full last page still carries a nextPageToken (on by default);
    // every Nth page may be half full or empty before the end (0: never).
    void setListingPages(bool trailingEmptyPage, int shortPageEvery = 0, int emptyPageEvery = 0);
    // A hostile server: file listings never end (every page carries a new nextPageToken, and the
    // items start over after the last one).
    void setEndlessPages(bool endless);
    // Finished resumable uploads answer 200 (default) or 201.
    void setUploadCompleteStatus(int status);
    void setUpdateManifest(const QByteArray &json);
    QList<Notification> notifications() const;
    void clearNotifications();

    static QByteArray generatedBytes(quint64 seed, qint64 offset, qint64 length);
    static QString tokenFingerprint(const QString &token);

private:
    void installControl();

    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace Tarnwick::Emulator
