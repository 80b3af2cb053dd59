#include "state/emulatorstate.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "state/driveids.h"
#include "api/jsonvalues.h"

#include <QCryptographicHash>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QString folderType = u"application/vnd.google-apps.folder"_s;
const QString googlePrefix = u"application/vnd.google-apps."_s;
const QString driveScope = u"https://www.googleapis.com/auth/drive"_s;

EmulatorState::Role roleFromName(const QString &name)
{
    using Role = EmulatorState::Role;
    if (name == u"owner"_s)
        return Role::Owner;
    if (name == u"organizer"_s)
        return Role::Organizer;
    if (name == u"fileOrganizer"_s)
        return Role::FileOrganizer;
    if (name == u"writer"_s)
        return Role::Writer;
    if (name == u"commenter"_s)
        return Role::Commenter;
    if (name == u"reader"_s)
        return Role::Reader;
    return Role::None;
}

QString domainOf(const QString &email)
{
    const qsizetype at = email.lastIndexOf(u'@');
    return at < 0 ? QString() : email.mid(at + 1).toLower();
}

bool permissionMatches(const EmulatorState::Permission &p, const QString &email)
{
    if (p.type == u"anyone"_s)
        return true;
    if (p.type == u"domain"_s)
        return !p.domain.isEmpty() && p.domain.compare(domainOf(email), Qt::CaseInsensitive) == 0;
    return p.emailAddress.compare(email, Qt::CaseInsensitive) == 0;
}

bool hasThumbnail(const EmulatorState::Item &item)
{
    if (!item.thumbnail.isEmpty())
        return true;
    const QString &m = item.mimeType;
    return m.startsWith(u"image/"_s) || m.startsWith(u"video/"_s) || m == u"application/pdf"_s ||
           m == googlePrefix + u"document"_s || m == googlePrefix + u"spreadsheet"_s ||
           m == googlePrefix + u"presentation"_s;
}

QString extensionOf(const QString &name, bool full)
{
    const qsizetype dot = full ? name.indexOf(u'.', 1) : name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {};
    return name.mid(dot + 1);
}

} // namespace

bool EmulatorState::Item::isFolder() const
{
    return mimeType == folderType;
}
bool EmulatorState::Item::isGoogleType() const
{
    return mimeType.startsWith(googlePrefix);
}

EmulatorState::EmulatorState(const ContentStore &store)
    : m_store(store)
{
}
EmulatorState::~EmulatorState() = default;

void EmulatorState::setBaseUrl(const QString &baseUrl)
{
    std::lock_guard lock(m_mutex);
    m_baseUrl = baseUrl;
}

QString EmulatorState::baseUrl() const
{
    std::lock_guard lock(m_mutex);
    return m_baseUrl;
}

EmulatorState::Settings EmulatorState::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

void EmulatorState::setSettings(const Settings &settings)
{
    std::lock_guard lock(m_mutex);
    m_settings = settings;
    changed();
}

QJsonObject EmulatorState::settingsJson() const
{
    std::lock_guard lock(m_mutex);
    const Settings &s = m_settings;
    return QJsonObject{{u"accessTokenLifetime"_s, s.accessTokenLifetime},
                       {u"uploadSessionLifetime"_s, s.uploadSessionLifetime},
                       {u"testingRefreshTokenLifetime"_s, s.testingRefreshTokenLifetime},
                       {u"authCodeLifetime"_s, s.authCodeLifetime},
                       {u"trailingEmptyPage"_s, s.trailingEmptyPage},
                       {u"shortPageEvery"_s, s.shortPageEvery},
                       {u"emptyPageEvery"_s, s.emptyPageEvery},
                       {u"endlessPages"_s, s.endlessPages},
                       {u"multipartLimit"_s, s.multipartLimit},
                       {u"legacyUploadErrors"_s, s.legacyUploadErrors},
                       {u"uploadCompleteStatus"_s, s.uploadCompleteStatus}};
}

void EmulatorState::applySettingsJson(const QJsonObject &json)
{
    std::lock_guard lock(m_mutex);
    Settings s = m_settings;
    for (auto it = json.begin(); it != json.end(); ++it) {
        const QString &k = it.key();
        const QJsonValue v = it.value();
        auto number = [&]() -> qint64 {
            if (!v.isDouble() || v.toDouble() < 0)
                throw std::invalid_argument("setting must be a non-negative number");
            return qint64(v.toDouble());
        };
        auto boolean = [&]() -> bool {
            if (!v.isBool())
                throw std::invalid_argument("setting must be a boolean");
            return v.toBool();
        };
        if (k == u"accessTokenLifetime"_s)
            s.accessTokenLifetime = number();
        else if (k == u"uploadSessionLifetime"_s)
            s.uploadSessionLifetime = number();
        else if (k == u"testingRefreshTokenLifetime"_s)
            s.testingRefreshTokenLifetime = number();
        else if (k == u"authCodeLifetime"_s)
            s.authCodeLifetime = number();
        else if (k == u"trailingEmptyPage"_s)
            s.trailingEmptyPage = boolean();
        else if (k == u"shortPageEvery"_s)
            s.shortPageEvery = int(number());
        else if (k == u"emptyPageEvery"_s)
            s.emptyPageEvery = int(number());
        else if (k == u"endlessPages"_s)
            s.endlessPages = boolean();
        else if (k == u"multipartLimit"_s)
            s.multipartLimit = number();
        else if (k == u"legacyUploadErrors"_s)
            s.legacyUploadErrors = boolean();
        else if (k == u"uploadCompleteStatus"_s) {
            s.uploadCompleteStatus = int(number());
            if (s.uploadCompleteStatus != 200 && s.uploadCompleteStatus != 201)
                throw std::invalid_argument("uploadCompleteStatus must be 200 or 201");
        } else
            throw std::invalid_argument("unknown setting");
    }
    if (s.accessTokenLifetime < 2)
        throw std::invalid_argument("accessTokenLifetime must be at least 2 seconds");
    m_settings = s;
    changed();
}

// ---- clock

QDateTime EmulatorState::now() const
{
    return QDateTime::currentDateTimeUtc().addMSecs(m_clockOffsetMs.load());
}

void EmulatorState::advanceClock(std::chrono::milliseconds by)
{
    m_clockOffsetMs += by.count();
}

// ---- users, clients

void EmulatorState::addUser(const User &user)
{
    std::lock_guard lock(m_mutex);
    User u = user;
    if (u.displayName.isEmpty())
        u.displayName = u.email.section(u'@', 0, 0);
    if (u.permissionId.isEmpty())
        u.permissionId = DriveIds::stablePermissionId(u.email.toLower());
    for (User &existing : m_users) {
        if (existing.email.compare(u.email, Qt::CaseInsensitive) == 0) {
            u.rootId = existing.rootId;
            existing = u;
            changed();
            return;
        }
    }
    if (u.rootId.isEmpty())
        u.rootId = DriveIds::stableDriveId(u"root:"_s + u.email.toLower());
    if (!m_items.contains(u.rootId)) {
        Item root;
        root.id = u.rootId;
        root.name = u"My Drive"_s;
        root.mimeType = folderType;
        root.owner = u.email;
        root.createdTime = root.modifiedTime = now();
        m_items.insert(root.id, root);
    }
    m_users.append(u);
    changed();
}

std::optional<EmulatorState::User> EmulatorState::user(const QString &email) const
{
    std::lock_guard lock(m_mutex);
    for (const User &u : m_users)
        if (u.email.compare(email, Qt::CaseInsensitive) == 0)
            return u;
    return std::nullopt;
}

QString EmulatorState::defaultUser() const
{
    std::lock_guard lock(m_mutex);
    return m_users.isEmpty() ? QString() : m_users.first().email;
}

QStringList EmulatorState::userEmails() const
{
    std::lock_guard lock(m_mutex);
    QStringList out;
    for (const User &u : m_users)
        out.append(u.email);
    return out;
}

void EmulatorState::addClient(const OAuthClient &client)
{
    std::lock_guard lock(m_mutex);
    m_clients.insert(client.clientId, client);
    changed();
}

std::optional<EmulatorState::OAuthClient> EmulatorState::client(const QString &clientId) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_clients.find(clientId);
    if (it == m_clients.end())
        return std::nullopt;
    return it.value();
}

// ---- tokens

QString EmulatorState::issueAccessToken(const QString &email, const QString &clientId,
                                        const QString &scope, qint64 lifetimeSeconds)
{
    std::lock_guard lock(m_mutex);
    const QString token = u"ya29.a0"_s + DriveIds::randomToken(150);
    AccessToken info{email, clientId, scope.isEmpty() ? driveScope : scope, {}};
    if (lifetimeSeconds >= 0)
        info.expires =
            now().addSecs(lifetimeSeconds ? lifetimeSeconds : m_settings.accessTokenLifetime);
    m_accessTokens.insert(token, info);
    changed();
    return token;
}

void EmulatorState::addAccessToken(const QString &token, const AccessToken &info)
{
    std::lock_guard lock(m_mutex);
    AccessToken t = info;
    if (t.scope.isEmpty())
        t.scope = driveScope;
    m_accessTokens.insert(token, t);
    changed();
}

EmulatorState::Caller EmulatorState::authenticate(const QString &authorizationHeader) const
{
    const QString header = authorizationHeader.trimmed();
    if (header.isEmpty())
        throw ApiError::loginRequired();
    const qsizetype space = header.indexOf(u' ');
    if (space < 0 || header.left(space).compare(u"Bearer"_s, Qt::CaseInsensitive) != 0)
        throw ApiError::invalidCredentials();
    const QString token = header.mid(space + 1).trimmed();
    std::lock_guard lock(m_mutex);
    const auto it = m_accessTokens.constFind(token);
    if (it == m_accessTokens.cend())
        throw ApiError::invalidCredentials();
    if (it->expires.isValid() && it->expires <= now())
        throw ApiError::invalidCredentials();
    if (!user(it->email))
        throw ApiError::invalidCredentials();
    return Caller{it->email, it->clientId, it->scope};
}

bool EmulatorState::expireAccessToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    auto it = m_accessTokens.find(token);
    if (it == m_accessTokens.end())
        return false;
    it->expires = now().addSecs(-1);
    changed();
    return true;
}

void EmulatorState::expireAllAccessTokens()
{
    std::lock_guard lock(m_mutex);
    const QDateTime past = now().addSecs(-1);
    for (AccessToken &t : m_accessTokens)
        t.expires = past;
    changed();
}

QString EmulatorState::issueRefreshToken(const QString &email, const QString &clientId,
                                         const QString &scope)
{
    std::lock_guard lock(m_mutex);
    const QString token = u"1//0"_s + DriveIds::randomToken(99);
    RefreshToken info{email, clientId, scope.isEmpty() ? driveScope : scope, {}};
    const auto c = m_clients.constFind(clientId);
    if (c != m_clients.cend() && c->testing)
        info.expires = now().addSecs(m_settings.testingRefreshTokenLifetime);
    m_refreshTokens.insert(token, info);
    changed();
    return token;
}

std::optional<EmulatorState::RefreshToken> EmulatorState::refreshToken(const QString &token) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_refreshTokens.constFind(token);
    if (it == m_refreshTokens.cend())
        return std::nullopt;
    if (it->expires.isValid() && it->expires <= now())
        return std::nullopt;
    return it.value();
}

bool EmulatorState::revokeToken(const QString &token)
{
    std::lock_guard lock(m_mutex);
    bool found = m_refreshTokens.remove(token) > 0;
    found = m_accessTokens.remove(token) > 0 || found;
    if (found)
        changed();
    return found;
}

bool EmulatorState::revokeGrant(const QString &token)
{
    std::lock_guard lock(m_mutex);
    QString email;
    QString clientId;
    if (const auto refresh = m_refreshTokens.constFind(token); refresh != m_refreshTokens.cend()) {
        email = refresh->email;
        clientId = refresh->clientId;
    } else if (const auto access = m_accessTokens.constFind(token);
               access != m_accessTokens.cend()) {
        email = access->email;
        clientId = access->clientId;
    } else {
        return false;
    }
    const auto sameGrant = [&](const auto &it) {
        return it.key() == token || (it.value().email == email && it.value().clientId == clientId &&
                                     !clientId.isEmpty());
    };
    m_refreshTokens.removeIf(sameGrant);
    m_accessTokens.removeIf(sameGrant);
    changed();
    return true;
}

void EmulatorState::revokeAllRefreshTokens()
{
    std::lock_guard lock(m_mutex);
    m_refreshTokens.clear();
    changed();
}

QString EmulatorState::createAuthCode(const AuthCode &code)
{
    std::lock_guard lock(m_mutex);
    const QString value = u"4/0A"_s + DriveIds::randomToken(70);
    AuthCode c = code;
    c.expires = now().addSecs(m_settings.authCodeLifetime);
    m_authCodes.insert(value, c);
    return value;
}

std::optional<EmulatorState::AuthCode> EmulatorState::takeAuthCode(const QString &code)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_authCodes.find(code);
    if (it == m_authCodes.end())
        return std::nullopt;
    const AuthCode c = it.value();
    m_authCodes.erase(it);
    if (c.expires <= now())
        return std::nullopt;
    return c;
}

// ---- manifest, notifications

QByteArray EmulatorState::manifest() const
{
    std::lock_guard lock(m_mutex);
    return m_manifest;
}

void EmulatorState::setManifest(const QByteArray &json)
{
    std::lock_guard lock(m_mutex);
    m_manifest = json;
    changed();
}

QList<EmulatorState::Notification> EmulatorState::notifications() const
{
    std::lock_guard lock(m_mutex);
    return m_notifications;
}

void EmulatorState::clearNotifications()
{
    std::lock_guard lock(m_mutex);
    m_notifications.clear();
}

// ---- rights

void EmulatorState::requireWriteScope(const Caller &caller) const
{
    const QStringList scopes = caller.scope.split(u' ', Qt::SkipEmptyParts);
    if (scopes.contains(driveScope) || scopes.contains(driveScope + u".file"_s))
        return;
    ApiError e(403, u"insufficientPermissions"_s,
               u"Insufficient Permission: Request had insufficient authentication scopes."_s);
    throw e;
}

EmulatorState::Role EmulatorState::directRole(const Item &item, const QString &email) const
{
    Role best = Role::None;
    for (const Permission &p : item.permissions)
        if (permissionMatches(p, email))
            best = std::max(best, roleFromName(p.role));
    return best;
}

EmulatorState::Role EmulatorState::roleLocked(const Item &item, const QString &email) const
{
    Role best = Role::None;
    if (!item.driveId.isEmpty()) {
        const auto d = m_drives.constFind(item.driveId);
        if (d != m_drives.cend())
            for (const Permission &m : d->members)
                if (permissionMatches(m, email))
                    best = std::max(best, roleFromName(m.role));
    } else if (item.owner.compare(email, Qt::CaseInsensitive) == 0) {
        return Role::Owner;
    }
    const Item *current = &item;
    bool self = true;
    int depth = 0;
    while (current && depth++ < 512) {
        if (!self && current->driveId.isEmpty() &&
            current->owner.compare(email, Qt::CaseInsensitive) == 0)
            best = std::max(best, Role::Writer);
        best = std::max(best, directRole(*current, email));
        if (current->parent.isEmpty())
            break;
        const auto p = m_items.constFind(current->parent);
        current = p == m_items.cend() ? nullptr : &p.value();
        self = false;
    }
    return best;
}

std::optional<EmulatorState::Role> EmulatorState::roleFor(const QString &itemId,
                                                          const QString &email) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.constFind(itemId);
    if (it == m_items.cend())
        return std::nullopt;
    return roleLocked(*it, email);
}

QString EmulatorState::resolveAlias(const Caller &caller, const QString &id) const
{
    if (id == u"root"_s)
        return rootIdOf(caller.email);
    return id;
}

QString EmulatorState::rootIdOf(const QString &email) const
{
    std::lock_guard lock(m_mutex);
    for (const User &u : m_users)
        if (u.email.compare(email, Qt::CaseInsensitive) == 0)
            return u.rootId;
    return {};
}

const EmulatorState::Item &EmulatorState::visibleItem(const Caller &caller, const QString &id,
                                                      bool supportsAllDrives, Role minimum) const
{
    const auto it = m_items.constFind(resolveAlias(caller, id));
    if (it == m_items.cend())
        throw ApiError::fileNotFound(id);
    const Role role = roleLocked(*it, caller.email);
    if (role == Role::None)
        throw ApiError::fileNotFound(id);
    if (!it->driveId.isEmpty() && !supportsAllDrives)
        throw ApiError::fileNotFound(id);
    if (role < minimum)
        throw ApiError::insufficientPermissions();
    return *it;
}

bool EmulatorState::sharedWithMe(const Item &item, const QString &email) const
{
    if (!item.driveId.isEmpty() || item.owner.compare(email, Qt::CaseInsensitive) == 0)
        return false;
    for (const Permission &p : item.permissions)
        if ((p.type == u"user"_s || p.type == u"group"_s) &&
            p.emailAddress.compare(email, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool EmulatorState::trashedLocked(const Item &item) const
{
    const Item *current = &item;
    int depth = 0;
    while (current && depth++ < 512) {
        if (current->explicitlyTrashed)
            return true;
        if (current->parent.isEmpty())
            return false;
        const auto p = m_items.constFind(current->parent);
        current = p == m_items.cend() ? nullptr : &p.value();
    }
    return false;
}

QList<EmulatorState::Permission> EmulatorState::effectivePermissions(const Item &item) const
{
    QList<Permission> out;
    auto add = [&](const Permission &p) {
        for (Permission &existing : out) {
            if (existing.id == p.id) {
                if (roleFromName(p.role) > roleFromName(existing.role))
                    existing.role = p.role;
                return;
            }
        }
        out.append(p);
    };
    if (item.driveId.isEmpty()) {
        if (const auto u = user(item.owner))
            add(Permission{
                u->permissionId, u"user"_s, u"owner"_s, u->email, {}, false, item.createdTime});
    } else if (const auto d = m_drives.constFind(item.driveId); d != m_drives.cend()) {
        for (const Permission &m : d->members)
            add(m);
    }
    const Item *current = &item;
    int depth = 0;
    while (current && depth++ < 512) {
        for (const Permission &p : current->permissions)
            add(p);
        if (current->parent.isEmpty())
            break;
        const auto p = m_items.constFind(current->parent);
        current = p == m_items.cend() ? nullptr : &p.value();
    }
    return out;
}

EmulatorState::Permission EmulatorState::effectivePermission(const Item &item,
                                                             const QString &permissionId) const
{
    for (const Permission &p : effectivePermissions(item))
        if (p.id == permissionId)
            return p;
    throw ApiError::permissionNotFound(permissionId);
}

// ---- rendering

QString EmulatorState::webViewLink(const Item &item) const
{
    const QString &m = item.mimeType;
    if (item.isFolder())
        return m_baseUrl + u"/drive/folders/"_s + item.id;
    if (m == googlePrefix + u"document"_s)
        return m_baseUrl + u"/document/d/"_s + item.id + u"/edit?usp=drivesdk"_s;
    if (m == googlePrefix + u"spreadsheet"_s)
        return m_baseUrl + u"/spreadsheets/d/"_s + item.id + u"/edit?usp=drivesdk"_s;
    if (m == googlePrefix + u"presentation"_s)
        return m_baseUrl + u"/presentation/d/"_s + item.id + u"/edit?usp=drivesdk"_s;
    return m_baseUrl + u"/file/d/"_s + item.id + u"/view?usp=drivesdk"_s;
}

QString EmulatorState::photoLink(const User &user) const
{
    return user.photoLink.isEmpty() ? m_baseUrl + u"/photos/"_s + user.permissionId
                                    : user.photoLink;
}

QJsonObject EmulatorState::renderUser(const QString &email, const Caller &caller,
                                      const FieldSelection &fields) const
{
    QJsonObject out;
    const auto u = user(email);
    auto put = [&](const QString &name, const QJsonValue &value) {
        if (fields.wants(name))
            out.insert(name, value);
    };
    put(u"kind"_s, u"drive#user"_s);
    put(u"displayName"_s, u ? u->displayName : email.section(u'@', 0, 0));
    put(u"emailAddress"_s, email);
    put(u"me"_s, email.compare(caller.email, Qt::CaseInsensitive) == 0);
    put(u"permissionId"_s, u ? u->permissionId : DriveIds::stablePermissionId(email.toLower()));
    if (u)
        put(u"photoLink"_s, photoLink(*u));
    return out;
}

QJsonObject EmulatorState::renderPermission(const Permission &p, const FieldSelection &fields) const
{
    QJsonObject out;
    auto put = [&](const QString &name, const QJsonValue &value) {
        if (fields.wants(name))
            out.insert(name, value);
    };
    put(u"kind"_s, u"drive#permission"_s);
    put(u"id"_s, p.id);
    put(u"type"_s, p.type);
    put(u"role"_s, p.role);
    if (p.type == u"user"_s || p.type == u"group"_s) {
        put(u"emailAddress"_s, p.emailAddress);
        const auto u = user(p.emailAddress);
        if (u) {
            put(u"displayName"_s, u->displayName);
            put(u"photoLink"_s, photoLink(*u));
        }
    }
    if (p.type == u"domain"_s) {
        put(u"domain"_s, p.domain);
        put(u"displayName"_s, p.domain);
    }
    if (p.type == u"anyone"_s || p.type == u"domain"_s)
        put(u"allowFileDiscovery"_s, p.allowFileDiscovery);
    put(u"deleted"_s, false);
    put(u"pendingOwner"_s, false);
    return out;
}

QJsonObject EmulatorState::capabilities(const Item &item, Role role,
                                        const FieldSelection &fields) const
{
    const bool inDrive = !item.driveId.isEmpty();
    const bool folder = item.isFolder();
    const bool trashed = trashedLocked(item);
    const bool writer = role >= Role::Writer;
    const bool reader = role >= Role::Reader;
    const bool isRoot = item.parent.isEmpty();
    const bool canTrash = !isRoot && (inDrive ? role >= Role::FileOrganizer : role == Role::Owner);
    const bool canDelete = !isRoot && (inDrive ? role >= Role::Organizer : role == Role::Owner);
    const bool canShare =
        inDrive ? writer : (role == Role::Owner || (writer && item.writersCanShare));
    // Google reports folders as downloadable: a client fetches their files one by one.
    const bool canDownload = reader && (folder || !item.isGoogleType())
                             && (!item.copyRequiresWriterPermission || writer);
    QHash<QString, bool> c;
    for (const QString &name : Schemas::fileCapabilityNames())
        c.insert(name, false);
    c[u"canAddChildren"_s] = folder && writer && !trashed;
    c[u"canEdit"_s] = writer && !trashed;
    c[u"canModifyContent"_s] = writer && !trashed && !folder;
    c[u"canRename"_s] = writer && !trashed && !isRoot;
    c[u"canTrash"_s] = canTrash && !trashed;
    c[u"canUntrash"_s] = canTrash && trashed;
    c[u"canDelete"_s] = canDelete;
    c[u"canDownload"_s] = canDownload;
    c[u"canShare"_s] = canShare && !trashed;
    c[u"canListChildren"_s] = folder && reader;
    c[u"canRemoveChildren"_s] = folder && writer;
    c[u"canDeleteChildren"_s] = folder && (inDrive ? role >= Role::Organizer : role == Role::Owner);
    c[u"canTrashChildren"_s] =
        folder && (inDrive ? role >= Role::FileOrganizer : role == Role::Owner);
    c[u"canComment"_s] = role >= Role::Commenter && !folder;
    c[u"canCopy"_s] = reader && !folder && (!item.copyRequiresWriterPermission || writer);
    c[u"canReadRevisions"_s] = writer && !folder;
    c[u"canMoveItemWithinDrive"_s] = !isRoot && (inDrive ? role >= Role::FileOrganizer : writer);
    c[u"canMoveChildrenWithinDrive"_s] = folder && writer;
    c[u"canAddMyDriveParent"_s] = false;
    c[u"canRemoveMyDriveParent"_s] = !inDrive && role == Role::Owner && !isRoot;
    c[u"canReadDrive"_s] = inDrive && reader;
    c[u"canReadLabels"_s] = reader;
    c[u"canChangeViewersCanCopyContent"_s] = writer;
    c[u"canChangeCopyRequiresWriterPermission"_s] = writer;
    for (auto it = item.capabilityOverrides.begin(); it != item.capabilityOverrides.end(); ++it)
        if (c.contains(it.key()))
            c[it.key()] = it.value().toBool();
    QJsonObject out;
    for (auto it = c.begin(); it != c.end(); ++it)
        if (fields.wants(it.key()))
            out.insert(it.key(), it.value());
    return out;
}

QJsonObject EmulatorState::renderFile(const Item &item, const Caller &caller,
                                      const FieldSelection &fields) const
{
    QJsonObject out;
    const Role role = roleLocked(item, caller.email);
    const bool binary = !item.isGoogleType();
    const bool inDrive = !item.driveId.isEmpty();
    auto want = [&](const QString &name) { return fields.wants(name); };
    auto put = [&](const QString &name, const QJsonValue &value) {
        if (want(name))
            out.insert(name, value);
    };

    put(u"kind"_s, u"drive#file"_s);
    put(u"id"_s, item.id);
    put(u"name"_s, item.name);
    put(u"mimeType"_s, item.mimeType);
    if (!item.description.isEmpty())
        put(u"description"_s, item.description);
    put(u"starred"_s, item.starred);
    const bool trashed = trashedLocked(item);
    put(u"trashed"_s, trashed);
    put(u"explicitlyTrashed"_s, item.explicitlyTrashed);
    if (item.explicitlyTrashed) {
        put(u"trashedTime"_s, rfc3339(item.trashedTime));
        if (want(u"trashingUser"_s) && !item.owner.isEmpty())
            out.insert(u"trashingUser"_s,
                       renderUser(item.owner, caller, fields.sub(u"trashingUser"_s)));
    }
    if (want(u"parents"_s) && !item.parent.isEmpty()) {
        const auto p = m_items.constFind(item.parent);
        if (p != m_items.cend() && roleLocked(*p, caller.email) >= Role::Reader)
            out.insert(u"parents"_s, QJsonArray{item.parent});
    }
    put(u"spaces"_s, QJsonArray{u"drive"_s});
    put(u"version"_s, QString::number(item.version));
    put(u"webViewLink"_s, webViewLink(item));
    put(u"iconLink"_s, m_baseUrl + u"/icons/16/type/"_s + item.mimeType);
    const bool thumb = hasThumbnail(item);
    put(u"hasThumbnail"_s, thumb);
    if (thumb)
        put(u"thumbnailLink"_s, m_baseUrl + u"/thumbnails/"_s + item.id + u"?sz=s220&v="_s +
                                    QString::number(item.version));
    put(u"thumbnailVersion"_s, thumb ? QString::number(item.version) : u"0"_s);
    put(u"viewedByMe"_s, role == Role::Owner);
    put(u"createdTime"_s, rfc3339(item.createdTime));
    put(u"modifiedTime"_s, rfc3339(item.modifiedTime));
    const QString modifier = item.lastModifyingUser.isEmpty() ? item.owner : item.lastModifyingUser;
    const bool byMe = modifier.compare(caller.email, Qt::CaseInsensitive) == 0;
    put(u"modifiedByMe"_s, byMe);
    if (byMe)
        put(u"modifiedByMeTime"_s, rfc3339(item.modifiedTime));
    if (want(u"lastModifyingUser"_s) && !modifier.isEmpty())
        out.insert(u"lastModifyingUser"_s,
                   renderUser(modifier, caller, fields.sub(u"lastModifyingUser"_s)));
    if (sharedWithMe(item, caller.email)) {
        for (const Permission &p : item.permissions)
            if (p.emailAddress.compare(caller.email, Qt::CaseInsensitive) == 0)
                put(u"sharedWithMeTime"_s,
                    rfc3339(p.created.isValid() ? p.created : item.createdTime));
        if (want(u"sharingUser"_s))
            out.insert(u"sharingUser"_s,
                       renderUser(item.owner, caller, fields.sub(u"sharingUser"_s)));
    }
    if (inDrive) {
        put(u"driveId"_s, item.driveId);
        put(u"teamDriveId"_s, item.driveId);
        put(u"hasAugmentedPermissions"_s, false);
    } else {
        if (want(u"owners"_s) && !item.owner.isEmpty())
            out.insert(u"owners"_s,
                       QJsonArray{renderUser(item.owner, caller, fields.sub(u"owners"_s))});
        put(u"ownedByMe"_s, role == Role::Owner);
    }
    if (want(u"shared"_s) || want(u"permissions"_s) || want(u"permissionIds"_s)) {
        const QList<Permission> perms = effectivePermissions(item);
        put(u"shared"_s, perms.size() > 1);
        const bool mayShare = inDrive ? role >= Role::Writer : role >= Role::Writer;
        if (mayShare) {
            if (want(u"permissions"_s)) {
                QJsonArray list;
                for (const Permission &p : perms)
                    list.append(renderPermission(p, fields.sub(u"permissions"_s)));
                out.insert(u"permissions"_s, list);
            }
            if (want(u"permissionIds"_s)) {
                QJsonArray ids;
                for (const Permission &p : perms)
                    ids.append(p.id);
                out.insert(u"permissionIds"_s, ids);
            }
        }
    }
    if (want(u"capabilities"_s))
        out.insert(u"capabilities"_s, capabilities(item, role, fields.sub(u"capabilities"_s)));
    put(u"viewersCanCopyContent"_s, !item.copyRequiresWriterPermission);
    put(u"copyRequiresWriterPermission"_s, item.copyRequiresWriterPermission);
    put(u"writersCanShare"_s, item.writersCanShare);
    put(u"isAppAuthorized"_s, false);
    if (item.isFolder())
        put(u"folderColorRgb"_s,
            item.folderColorRgb.isEmpty() ? u"#8f8f8f"_s : item.folderColorRgb);
    if (binary) {
        put(u"size"_s, QString::number(item.size()));
        put(u"quotaBytesUsed"_s, QString::number(inDrive ? 0 : item.size()));
        put(u"headRevisionId"_s, u"0B"_s + item.id.right(12) + QString::number(item.version));
        put(u"webContentLink"_s, m_baseUrl + u"/uc?id="_s + item.id + u"&export=download"_s);
        if (!item.originalFilename.isEmpty())
            put(u"originalFilename"_s, item.originalFilename);
        const QString ext = extensionOf(item.name, false);
        if (!ext.isEmpty()) {
            put(u"fileExtension"_s, ext);
            put(u"fullFileExtension"_s, extensionOf(item.name, true));
        }
        if (want(u"md5Checksum"_s))
            out.insert(u"md5Checksum"_s, item.content ? item.content->md5Hex()
                                                      : u"d41d8cd98f00b204e9800998ecf8427e"_s);
        if (want(u"sha256Checksum"_s))
            out.insert(u"sha256Checksum"_s,
                       item.content
                           ? item.content->sha256Hex()
                           : u"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"_s);
    } else {
        put(u"quotaBytesUsed"_s, u"0"_s);
    }
    if (!item.shortcutTarget.isEmpty() && want(u"shortcutDetails"_s)) {
        const FieldSelection sub = fields.sub(u"shortcutDetails"_s);
        QJsonObject details;
        if (sub.wants(u"targetId"_s))
            details.insert(u"targetId"_s, item.shortcutTarget);
        const auto target = m_items.constFind(item.shortcutTarget);
        if (sub.wants(u"targetMimeType"_s) && target != m_items.cend())
            details.insert(u"targetMimeType"_s, target->mimeType);
        out.insert(u"shortcutDetails"_s, details);
    }
    if (!item.imageMediaMetadata.isEmpty())
        put(u"imageMediaMetadata"_s, item.imageMediaMetadata);
    if (!item.videoMediaMetadata.isEmpty())
        put(u"videoMediaMetadata"_s, item.videoMediaMetadata);
    if (!item.properties.isEmpty())
        put(u"properties"_s, item.properties);
    if (!item.appProperties.isEmpty())
        put(u"appProperties"_s, item.appProperties);
    if (item.isGoogleType() && !item.isFolder() && item.shortcutTarget.isEmpty())
        put(u"exportLinks"_s,
            QJsonObject{{u"application/pdf"_s,
                         m_baseUrl + u"/export/"_s + item.id + u"?exportFormat=pdf"_s}});
    return out;
}

} // namespace Tarnwick::Emulator
