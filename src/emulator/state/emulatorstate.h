#pragma once

#include "state/contentblob.h"
#include "api/fieldselection.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace Tarnwick::Emulator {

class ContentStore;
class SearchQuery;

// Everything the emulated Google knows: users, OAuth clients and tokens, the item trees of every
// My Drive and shared drive, permissions, upload sessions. Every public operation takes the one
// lock, so handlers on any pool thread may call it. Drive operations act for a Caller and throw
// ApiError exactly where Google answers with an error.
class EmulatorState final
{
public:
    enum class Role { None, Reader, Commenter, Writer, FileOrganizer, Organizer, Owner };

    struct User
    {
        QString email;
        QString displayName;
        QString permissionId;
        QString rootId;
        std::optional<qint64> quotaLimit; // absent: unlimited
        qint64 otherUsage = 0;            // bytes used by other Google services
        QString photoLink;
    };

    struct OAuthClient
    {
        QString clientId;
        QString clientSecret;
        QString name = QStringLiteral("Tarnwick");
        QString type = QStringLiteral("installed"); // "installed" (desktop) or "web"
        bool testing = false;                       // refresh tokens die after 7 days
        QStringList testUsers;                      // testing: only these may sign in
    };

    struct Permission
    {
        QString id;
        QString type; // user, group, domain, anyone
        QString role; // owner, organizer, fileOrganizer, writer, commenter, reader
        QString emailAddress;
        QString domain;
        bool allowFileDiscovery = false;
        QDateTime created;
    };

    struct Item
    {
        QString id;
        QString name;
        QString mimeType;
        QString parent; // empty for My Drive and shared drive roots
        QString owner;  // empty in shared drives
        QString driveId;
        QString description;
        QDateTime createdTime;
        QDateTime modifiedTime;
        QDateTime trashedTime;
        bool explicitlyTrashed = false;
        bool starred = false;
        Blob content; // binary files; null means empty
        QString shortcutTarget;
        QJsonObject thumbnail; // {"colors": [...]} or {"png": base64}; empty: none
        QJsonObject imageMediaMetadata;
        QJsonObject videoMediaMetadata;
        QList<Permission> permissions;
        QJsonObject capabilityOverrides;
        QJsonObject properties;
        QJsonObject appProperties;
        qint64 version = 1;
        QString originalFilename;
        QString lastModifyingUser;
        bool writersCanShare = true;
        bool copyRequiresWriterPermission = false;
        QString folderColorRgb;

        bool isFolder() const;
        bool isGoogleType() const;
        qint64 size() const { return content ? content->size() : 0; }
    };

    struct SharedDrive
    {
        QString id;
        QString name;
        QString colorRgb = QStringLiteral("#4986e7");
        QDateTime createdTime;
        bool hidden = false;
        QList<Permission> members;
    };

    struct AccessToken
    {
        QString email;
        QString clientId;
        QString scope;
        QDateTime expires; // invalid: never expires
    };

    struct RefreshToken
    {
        QString email;
        QString clientId;
        QString scope;
        QDateTime expires; // invalid: never expires
    };

    struct AuthCode
    {
        QString clientId;
        QString redirectUri;
        QString codeChallenge;
        QString codeChallengeMethod;
        QString email;
        QString scope;
        bool offline = false;
        QDateTime expires;
    };

    // A resumable upload. Byte counts are atomics so a snapshot never waits for a chunk in flight;
    // `mutex` serialises the chunks of one session.
    struct UploadSession
    {
        QString id;
        QString owner;
        QJsonObject metadata;
        QString contentType;
        qint64 declaredLength = -1;
        std::atomic<qint64> total{-1};
        std::atomic<qint64> received{0};
        QString path;
        QString fields;
        bool supportsAllDrives = false;
        bool sharedDrive = false; // the target is in a shared drive: no personal quota
        QDateTime created;
        QDateTime expires;
        bool expired = false;
        int expiredStatus = 404;
        QString resultId;
        std::mutex mutex;
    };

    struct Caller
    {
        QString email;
        QString clientId;
        QString scope;
    };

    struct Settings
    {
        qint64 accessTokenLifetime = 3600;        // seconds; expires_in is one less
        qint64 uploadSessionLifetime = 7 * 86400; // seconds
        qint64 testingRefreshTokenLifetime = 7 * 86400;
        qint64 authCodeLifetime = 600;
        bool trailingEmptyPage = true; // a full last page still carries a nextPageToken
        int shortPageEvery = 0;        // every Nth listing page holds half a page
        int emptyPageEvery = 0;        // every Nth listing page is empty (before the end)
        bool endlessPages = false; // a hostile server: file listings never end, each page with a
                                   // new token, starting over after the last item
        qint64 multipartLimit = 5 * 1024 * 1024;
        bool legacyUploadErrors = true; // upload answers use the envelope without "status"
        int uploadCompleteStatus = 200; // 200 or 201 for a finished resumable upload
    };

    struct Download
    {
        Blob content;
        qint64 size = 0;
        QString mimeType;
        QString name;
    };

    struct Notification
    {
        QString from;
        QString to;
        QString fileId;
        QString role;
        QString message;
    };

    explicit EmulatorState(const ContentStore &store);
    ~EmulatorState();
    EmulatorState(const EmulatorState &) = delete;
    EmulatorState &operator=(const EmulatorState &) = delete;

    // ---- the world: seeds and persisted state share one JSON form (see README.md)
    // Replaces everything. baseDir resolves relative "file" contents. Throws std::runtime_error.
    void load(const QJsonObject &world, const QString &baseDir);
    QJsonObject save() const;
    // Increases with every change that persistence must see.
    quint64 revision() const { return m_revision; }
    QStringList storedFiles() const;

    void setBaseUrl(const QString &baseUrl);
    QString baseUrl() const;
    Settings settings() const;
    void setSettings(const Settings &settings);
    QJsonObject settingsJson() const;
    void applySettingsJson(const QJsonObject &json); // throws std::invalid_argument

    // ---- clock: real UTC time plus an offset tests can advance
    QDateTime now() const;
    void advanceClock(std::chrono::milliseconds by);

    // ---- users, clients, tokens
    void addUser(const User &user);
    std::optional<User> user(const QString &email) const;
    QString defaultUser() const;
    QStringList userEmails() const;
    void addClient(const OAuthClient &client);
    std::optional<OAuthClient> client(const QString &clientId) const;

    // lifetimeSeconds < 0: never expires; 0: the configured lifetime.
    QString issueAccessToken(const QString &email, const QString &clientId, const QString &scope,
                             qint64 lifetimeSeconds = 0);
    void addAccessToken(const QString &token, const AccessToken &info);
    // Throws ApiError 401 (required or authError) unless the header carries a live token.
    Caller authenticate(const QString &authorizationHeader) const;
    bool expireAccessToken(const QString &token);
    void expireAllAccessTokens();
    QString issueRefreshToken(const QString &email, const QString &clientId, const QString &scope);
    std::optional<RefreshToken> refreshToken(const QString &token) const;
    bool revokeToken(const QString &token);
    // Google's revocation: the token and every other token of the same user and client (the
    // grant) stop working. False when the token is unknown.
    bool revokeGrant(const QString &token);
    void revokeAllRefreshTokens();
    QString createAuthCode(const AuthCode &code);
    // Removes and returns the code (single use); nullopt when unknown or expired.
    std::optional<AuthCode> takeAuthCode(const QString &code);

    // ---- manifest and notifications
    QByteArray manifest() const;
    void setManifest(const QByteArray &json);
    QList<Notification> notifications() const;
    void clearNotifications();

    // ---- Drive, for a caller (every one throws ApiError)
    QJsonObject about(const Caller &caller, const FieldSelection &fields) const;
    struct ListRequest
    {
        QString q;
        int pageSize = 100;
        QString pageToken;
        QString orderBy;
        QString corpora;
        QString driveId;
        bool supportsAllDrives = false;
        bool includeItemsFromAllDrives = false;
        std::optional<FieldSelection> fields;
    };
    QJsonObject listFiles(const Caller &caller, const ListRequest &request) const;
    QJsonObject getFile(const Caller &caller, const QString &id, bool supportsAllDrives,
                        const std::optional<FieldSelection> &fields) const;
    Download prepareDownload(const Caller &caller, const QString &id, bool supportsAllDrives) const;
    // files.generateIds: count fresh ids (1 to 1000) that only this caller may give to a create.
    QStringList generateIds(const Caller &caller, int count);
    // Checks a create (metadata, parent, rights) and returns the resolved parent id. An "id" in
    // the metadata must be one generated for the caller (400) and not yet taken (409).
    QString checkCreate(const Caller &caller, const QJsonObject &metadata, bool supportsAllDrives,
                        bool withContent) const;
    QJsonObject createFile(const Caller &caller, const QJsonObject &metadata, Blob content,
                           const QString &mediaType, bool supportsAllDrives,
                           const std::optional<FieldSelection> &fields);
    QJsonObject updateFile(const Caller &caller, const QString &id, const QJsonObject &patch,
                           const QString &addParents, const QString &removeParents,
                           bool supportsAllDrives, const std::optional<FieldSelection> &fields);
    void deleteFile(const Caller &caller, const QString &id, bool supportsAllDrives);
    // Throws storageQuotaExceeded when `bytes` more would not fit the caller's quota.
    void checkQuota(const QString &email, qint64 bytes) const;

    QJsonObject listDrives(const Caller &caller, int pageSize, const QString &pageToken,
                           const std::optional<FieldSelection> &fields) const;
    QJsonObject getDrive(const Caller &caller, const QString &id,
                         const std::optional<FieldSelection> &fields) const;

    QJsonObject listPermissions(const Caller &caller, const QString &fileId, bool supportsAllDrives,
                                const std::optional<FieldSelection> &fields) const;
    QJsonObject getPermission(const Caller &caller, const QString &fileId,
                              const QString &permissionId, bool supportsAllDrives,
                              const std::optional<FieldSelection> &fields) const;
    struct PermissionRequest
    {
        QJsonObject body;
        std::optional<bool> sendNotificationEmail;
        bool transferOwnership = false;
        QString emailMessage;
        bool supportsAllDrives = false;
        std::optional<FieldSelection> fields;
    };
    QJsonObject createPermission(const Caller &caller, const QString &fileId,
                                 const PermissionRequest &request);
    QJsonObject updatePermission(const Caller &caller, const QString &fileId,
                                 const QString &permissionId, const PermissionRequest &request);
    void deletePermission(const Caller &caller, const QString &fileId, const QString &permissionId,
                          bool supportsAllDrives);

    // ---- resumable uploads
    std::shared_ptr<UploadSession> startUpload(const Caller &caller, const QJsonObject &metadata,
                                               const QString &contentType, qint64 declaredLength,
                                               bool supportsAllDrives, const QString &fields);
    // The caller's live session; throws 404 when unknown, expired or someone else's.
    std::shared_ptr<UploadSession> uploadSession(const Caller &caller, const QString &id) const;
    // Turns a session whose bytes are all there into an item (once); returns the item's JSON.
    QJsonObject finishUpload(const Caller &caller, UploadSession &session,
                             const std::optional<FieldSelection> &fields);
    void touchUploads(); // a chunk landed: persistence should save
    bool expireUploadSession(const QString &id, int status = 404);
    void expireAllUploadSessions(int status = 404);
    QStringList uploadSessionIds() const;
    qint64 uploadSessionReceived(const QString &id) const; // -1: unknown

    // ---- public pages (no token): thumbnails and web views
    std::optional<QByteArray> thumbnailPng(const QString &id) const;
    std::optional<Item> item(const QString &id) const;
    QList<Item> children(const QString &parentId) const;
    QList<SharedDrive> sharedDrives() const;

    // ---- direct changes for tests and seeds (no rights checks)
    QString insertItem(Item item);
    void insertDrive(const SharedDrive &drive);
    void setContent(const QString &id, Blob content);
    void addPermissionDirect(const QString &itemId, const Permission &permission);
    QString rootIdOf(const QString &email) const;
    qint64 usageOf(const QString &email) const;
    std::optional<Role> roleFor(const QString &itemId, const QString &email) const;

private:
    class Subject;

    Role roleLocked(const Item &item, const QString &email) const;
    Role directRole(const Item &item, const QString &email) const;
    const Item &visibleItem(const Caller &caller, const QString &id, bool supportsAllDrives,
                            Role minimum = Role::Reader) const;
    QString resolveAlias(const Caller &caller, const QString &id) const;
    bool sharedWithMe(const Item &item, const QString &email) const;
    bool trashedLocked(const Item &item) const;
    QJsonObject renderFile(const Item &item, const Caller &caller,
                           const FieldSelection &fields) const;
    QJsonObject capabilities(const Item &item, Role role, const FieldSelection &fields) const;
    QJsonObject renderUser(const QString &email, const Caller &caller,
                           const FieldSelection &fields) const;
    // The user's own picture, else the emulator's generated one.
    QString photoLink(const User &user) const;
    QList<Permission> effectivePermissions(const Item &item) const;
    // The item's permission with that id, its own or inherited; throws 404 when it has none.
    Permission effectivePermission(const Item &item, const QString &permissionId) const;
    QJsonObject renderPermission(const Permission &p, const FieldSelection &fields) const;
    QString webViewLink(const Item &item) const;
    void checkWritableFields(const QJsonObject &body, const QSet<QString> &writable) const;
    void removeSubtree(const QString &id);
    void linkChild(const Item &item);
    void unlinkChild(const Item &item);
    void adjustUsage(const Item &item, qint64 sign);
    void changed() { ++m_revision; }
    QJsonObject itemJson(const Item &item) const;
    Item itemFromJson(const QJsonObject &json, const QString &parent, const QString &driveId,
                      const QString &baseDir, const QString &owner);
    void loadItems(const QJsonArray &items, const QString &parent, const QString &driveId,
                   const QString &baseDir, const QString &defaultOwner);
    void requireWriteScope(const Caller &caller) const;
    // files.create without the answer; returns the new item's id.
    QString createItem(const Caller &caller, const QJsonObject &metadata, Blob content,
                       const QString &mediaType, bool supportsAllDrives);
    // Computes the digests the fields ask for before the lock is taken: hashing a large file
    // must not hold every other request up.
    void warmChecksums(const QStringList &ids, const FieldSelection &fields) const;

    const ContentStore &m_store;
    mutable std::recursive_mutex m_mutex;
    std::atomic<quint64> m_revision{0};
    std::atomic<qint64> m_clockOffsetMs{0};
    QString m_baseUrl;
    Settings m_settings;
    QList<User> m_users;
    QHash<QString, OAuthClient> m_clients;
    QHash<QString, Item> m_items;
    QHash<QString, QSet<QString>> m_children;
    QHash<QString, SharedDrive> m_drives;
    QHash<QString, AccessToken> m_accessTokens;
    QHash<QString, RefreshToken> m_refreshTokens;
    QHash<QString, AuthCode> m_authCodes;
    QHash<QString, std::shared_ptr<UploadSession>> m_sessions;
    QHash<QString, qint64> m_usage;
    QByteArray m_manifest;
    QList<Notification> m_notifications;
    QHash<QString, QString> m_seedKeys; // seed "key" -> item id, for shortcut targets
    // Every id files.generateIds handed out -> the user it was handed to. Kept after use, so a
    // second create with the same id is told the id is taken (409), not unknown (400).
    QHash<QString, QString> m_generatedIds;
};

} // namespace Tarnwick::Emulator
