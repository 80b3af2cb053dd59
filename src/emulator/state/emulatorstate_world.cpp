// EmulatorState: loading and saving the world, direct changes, thumbnails.
#include "state/emulatorstate.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "state/driveids.h"
#include "api/jsonvalues.h"
#include "state/pngimage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <stdexcept>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QString folderType = u"application/vnd.google-apps.folder"_s;

[[noreturn]] void bad(const QString &what)
{
    throw std::runtime_error((u"seed: "_s + what).toStdString());
}

qint64 integer(const QJsonValue &v, qint64 fallback = 0)
{
    if (const auto n = jsonInteger(v, fallback))
        return *n;
    bad(u"expected a number, got "_s + v.toString());
}

// The bytes of a file a seed names, relative to its folder; `what` names it in the error.
QByteArray seedFile(const QString &baseDir, const QString &name, const QString &what)
{
    QFile f(QDir(baseDir).filePath(name));
    if (!f.open(QIODevice::ReadOnly))
        bad(u"cannot read "_s + what + u' ' + f.fileName());
    return f.readAll();
}

QDateTime time(const QJsonValue &v, const QDateTime &fallback)
{
    if (!v.isString())
        return fallback;
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    if (!t.isValid())
        bad(u"bad time "_s + v.toString());
    return t.toUTC();
}

QString typeToMime(const QString &type)
{
    if (type == u"folder"_s)
        return folderType;
    if (type == u"document"_s || type == u"spreadsheet"_s || type == u"presentation"_s ||
        type == u"shortcut"_s || type == u"form"_s || type == u"drawing"_s)
        return u"application/vnd.google-apps."_s + type;
    return u"application/octet-stream"_s;
}

QJsonObject permissionJson(const EmulatorState::Permission &p)
{
    QJsonObject o{{u"id"_s, p.id}, {u"type"_s, p.type}, {u"role"_s, p.role}};
    if (!p.emailAddress.isEmpty())
        o.insert(u"emailAddress"_s, p.emailAddress);
    if (!p.domain.isEmpty())
        o.insert(u"domain"_s, p.domain);
    if (p.allowFileDiscovery)
        o.insert(u"allowFileDiscovery"_s, true);
    if (p.created.isValid())
        o.insert(u"created"_s, rfc3339(p.created));
    return o;
}

EmulatorState::Permission permissionFromJson(const QJsonObject &o, const QDateTime &now)
{
    EmulatorState::Permission p;
    p.type = o.value(u"type"_s).toString(u"user"_s);
    p.role = o.value(u"role"_s).toString(u"reader"_s);
    p.emailAddress = o.value(u"emailAddress"_s).toString();
    p.domain = o.value(u"domain"_s).toString();
    p.allowFileDiscovery = o.value(u"allowFileDiscovery"_s).toBool();
    p.created = time(o.value(u"created"_s), now);
    p.id = o.value(u"id"_s).toString();
    if (p.id.isEmpty()) {
        if (p.type == u"anyone"_s)
            p.id = p.allowFileDiscovery ? u"anyone"_s : u"anyoneWithLink"_s;
        else if (p.type == u"domain"_s)
            p.id = DriveIds::stablePermissionId(u"domain:"_s + p.domain.toLower());
        else
            p.id = DriveIds::stablePermissionId(p.emailAddress.toLower());
    }
    return p;
}

} // namespace

// ---- direct changes

void EmulatorState::linkChild(const Item &item)
{
    if (!item.parent.isEmpty())
        m_children[item.parent].insert(item.id);
}

void EmulatorState::unlinkChild(const Item &item)
{
    if (item.parent.isEmpty())
        return;
    auto it = m_children.find(item.parent);
    if (it != m_children.end()) {
        it->remove(item.id);
        if (it->isEmpty())
            m_children.erase(it);
    }
}

void EmulatorState::adjustUsage(const Item &item, qint64 sign)
{
    if (item.driveId.isEmpty() && !item.owner.isEmpty() && item.content)
        m_usage[item.owner.toLower()] += sign * item.content->size();
}

QString EmulatorState::insertItem(Item item)
{
    std::lock_guard lock(m_mutex);
    if (item.id.isEmpty())
        item.id = DriveIds::newFileId();
    if (!item.createdTime.isValid())
        item.createdTime = now();
    if (!item.modifiedTime.isValid())
        item.modifiedTime = item.createdTime;
    if (!item.parent.isEmpty()) {
        const auto parent = m_items.constFind(item.parent);
        if (parent == m_items.cend())
            throw ApiError::fileNotFound(item.parent);
        item.driveId = parent->driveId;
        if (!item.driveId.isEmpty())
            item.owner.clear();
    }
    if (const auto old = m_items.constFind(item.id); old != m_items.cend()) {
        adjustUsage(*old, -1);
        unlinkChild(*old);
        if (old->content && old->content != item.content)
            old->content->discard();
    }
    m_items.insert(item.id, item);
    linkChild(item);
    adjustUsage(item, +1);
    changed();
    return item.id;
}

void EmulatorState::insertDrive(const SharedDrive &drive)
{
    std::lock_guard lock(m_mutex);
    SharedDrive d = drive;
    if (d.id.isEmpty())
        d.id = DriveIds::newDriveId();
    if (!d.createdTime.isValid())
        d.createdTime = now();
    m_drives.insert(d.id, d);
    Item root;
    root.id = d.id;
    root.name = d.name;
    root.mimeType = folderType;
    root.driveId = d.id;
    root.createdTime = root.modifiedTime = d.createdTime;
    m_items.insert(root.id, root);
    changed();
}

void EmulatorState::setContent(const QString &id, Blob content)
{
    std::lock_guard lock(m_mutex);
    auto it = m_items.find(id);
    if (it == m_items.end())
        throw ApiError::fileNotFound(id);
    adjustUsage(*it, -1);
    if (it->content && it->content != content)
        it->content->discard();
    it->content = std::move(content);
    it->modifiedTime = now();
    ++it->version;
    adjustUsage(*it, +1);
    changed();
}

void EmulatorState::addPermissionDirect(const QString &itemId, const Permission &permission)
{
    std::lock_guard lock(m_mutex);
    auto it = m_items.find(itemId);
    if (it == m_items.end())
        throw ApiError::fileNotFound(itemId);
    Permission p = permission;
    if (!p.created.isValid())
        p.created = now();
    it->permissions.removeIf([&](const Permission &e) { return e.id == p.id; });
    it->permissions.append(p);
    changed();
}

void EmulatorState::removeSubtree(const QString &id)
{
    const auto it = m_items.constFind(id);
    if (it == m_items.cend())
        return;
    const QSet<QString> kids = m_children.value(id);
    for (const QString &child : kids)
        removeSubtree(child);
    const Item item = *it;
    unlinkChild(item);
    adjustUsage(item, -1);
    if (item.content)
        item.content->discard();
    m_items.remove(id);
    m_children.remove(id);
}

std::optional<EmulatorState::Item> EmulatorState::item(const QString &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_items.constFind(id);
    if (it == m_items.cend())
        return std::nullopt;
    return *it;
}

QList<EmulatorState::Item> EmulatorState::children(const QString &parentId) const
{
    std::lock_guard lock(m_mutex);
    QList<Item> out;
    for (const QString &id : m_children.value(parentId))
        out.append(m_items.value(id));
    std::sort(out.begin(), out.end(), [](const Item &a, const Item &b) { return a.name < b.name; });
    return out;
}

QList<EmulatorState::SharedDrive> EmulatorState::sharedDrives() const
{
    std::lock_guard lock(m_mutex);
    return m_drives.values();
}

std::optional<QByteArray> EmulatorState::thumbnailPng(const QString &id) const
{
    Item it;
    {
        std::lock_guard lock(m_mutex);
        const auto found = m_items.constFind(id);
        if (found == m_items.cend())
            return std::nullopt;
        it = *found;
    }
    if (it.thumbnail.contains(u"png"_s))
        return QByteArray::fromBase64(it.thumbnail.value(u"png"_s).toString().toLatin1());
    const QString &m = it.mimeType;
    const bool image = m.startsWith(u"image/"_s), video = m.startsWith(u"video/"_s);
    const bool doc = m == u"application/pdf"_s || m.startsWith(u"application/vnd.google-apps."_s);
    if (it.thumbnail.isEmpty() && !image && !video && !doc)
        return std::nullopt;
    if (it.isFolder() || !it.shortcutTarget.isEmpty())
        return std::nullopt;
    // Colours from the seed, else from the id, so every item keeps its own picture.
    const QByteArray h = QCryptographicHash::hash(it.id.toUtf8(), QCryptographicHash::Md5);
    quint32 from = (quint8(h[0]) << 16) | (quint8(h[1]) << 8) | quint8(h[2]);
    quint32 to = (quint8(h[3]) << 16) | (quint8(h[4]) << 8) | quint8(h[5]);
    const QJsonArray colors = it.thumbnail.value(u"colors"_s).toArray();
    if (colors.size() >= 2) {
        from = colors[0].toString().mid(1).toUInt(nullptr, 16);
        to = colors[1].toString().mid(1).toUInt(nullptr, 16);
    }
    int w = 220, h2 = 165;
    const int iw = it.imageMediaMetadata.value(u"width"_s).toInt();
    const int ih = it.imageMediaMetadata.value(u"height"_s).toInt();
    if (iw > 0 && ih > 0) {
        if (iw >= ih)
            h2 = qMax(1, 220 * ih / iw);
        else
            w = qMax(1, 220 * iw / ih), h2 = 220;
    } else if (doc) {
        w = 170, h2 = 220;
    }
    const auto motif = image ? PngImage::Motif::Photo
                             : (video ? PngImage::Motif::Video : PngImage::Motif::Document);
    return PngImage::thumbnail(w, h2, from, to, motif);
}

// ---- the world as JSON

QJsonObject EmulatorState::itemJson(const Item &item) const
{
    QJsonObject o{{u"id"_s, item.id},
                  {u"name"_s, item.name},
                  {u"mimeType"_s, item.mimeType},
                  {u"createdTime"_s, rfc3339(item.createdTime)},
                  {u"modifiedTime"_s, rfc3339(item.modifiedTime)},
                  {u"version"_s, item.version}};
    if (!item.parent.isEmpty())
        o.insert(u"parent"_s, item.parent);
    if (!item.owner.isEmpty())
        o.insert(u"owner"_s, item.owner);
    if (!item.description.isEmpty())
        o.insert(u"description"_s, item.description);
    if (item.explicitlyTrashed) {
        o.insert(u"trashed"_s, true);
        o.insert(u"trashedTime"_s, rfc3339(item.trashedTime));
    }
    if (item.starred)
        o.insert(u"starred"_s, true);
    if (item.content) {
        if (item.content->kind() == ContentBlob::Kind::Generated)
            o.insert(
                u"content"_s,
                QJsonObject{{u"generated"_s,
                             QJsonObject{{u"size"_s, QString::number(item.content->size())},
                                         {u"seed"_s, QString::number(item.content->seed())}}}});
        else if (m_store.contains(item.content->path()))
            o.insert(u"content"_s,
                     QJsonObject{{u"stored"_s, QFileInfo(item.content->path()).fileName()}});
        else
            o.insert(u"content"_s, QJsonObject{{u"path"_s, item.content->path()}});
        if (item.content->md5Known())
            o.insert(u"md5Checksum"_s, item.content->md5Hex());
    }
    if (!item.shortcutTarget.isEmpty())
        o.insert(u"shortcutTarget"_s, item.shortcutTarget);
    if (!item.thumbnail.isEmpty())
        o.insert(u"thumbnail"_s, item.thumbnail);
    if (!item.imageMediaMetadata.isEmpty())
        o.insert(u"imageMediaMetadata"_s, item.imageMediaMetadata);
    if (!item.videoMediaMetadata.isEmpty())
        o.insert(u"videoMediaMetadata"_s, item.videoMediaMetadata);
    if (!item.permissions.isEmpty()) {
        QJsonArray perms;
        for (const Permission &p : item.permissions)
            perms.append(permissionJson(p));
        o.insert(u"permissions"_s, perms);
    }
    if (!item.capabilityOverrides.isEmpty())
        o.insert(u"capabilities"_s, item.capabilityOverrides);
    if (!item.properties.isEmpty())
        o.insert(u"properties"_s, item.properties);
    if (!item.appProperties.isEmpty())
        o.insert(u"appProperties"_s, item.appProperties);
    if (!item.originalFilename.isEmpty())
        o.insert(u"originalFilename"_s, item.originalFilename);
    if (!item.lastModifyingUser.isEmpty())
        o.insert(u"lastModifyingUser"_s, item.lastModifyingUser);
    if (!item.writersCanShare)
        o.insert(u"writersCanShare"_s, false);
    if (item.copyRequiresWriterPermission)
        o.insert(u"copyRequiresWriterPermission"_s, true);
    if (!item.folderColorRgb.isEmpty())
        o.insert(u"folderColorRgb"_s, item.folderColorRgb);
    return o;
}

EmulatorState::Item EmulatorState::itemFromJson(const QJsonObject &o, const QString &parent,
                                                const QString &driveId, const QString &baseDir,
                                                const QString &owner)
{
    Item item;
    item.name = o.value(u"name"_s).toString();
    if (item.name.isEmpty())
        bad(u"an item without a name"_s);
    item.mimeType = o.value(u"mimeType"_s).toString();
    if (item.mimeType.isEmpty())
        item.mimeType = typeToMime(
            o.value(u"type"_s).toString(o.contains(u"children"_s) ? u"folder"_s : u"file"_s));
    item.parent = o.value(u"parent"_s).toString(parent);
    item.driveId = driveId;
    item.owner = driveId.isEmpty() ? o.value(u"owner"_s).toString(owner) : QString();
    const QDateTime created = time(o.value(u"createdTime"_s), now());
    item.createdTime = created;
    item.modifiedTime = time(o.value(u"modifiedTime"_s), created);
    item.description = o.value(u"description"_s).toString();
    item.explicitlyTrashed = o.value(u"trashed"_s).toBool();
    if (item.explicitlyTrashed)
        item.trashedTime = time(o.value(u"trashedTime"_s), item.modifiedTime);
    item.starred = o.value(u"starred"_s).toBool();
    item.version = integer(o.value(u"version"_s), 1);
    item.shortcutTarget = o.value(u"shortcutTarget"_s).toString();
    item.imageMediaMetadata = o.value(u"imageMediaMetadata"_s).toObject();
    item.videoMediaMetadata = o.value(u"videoMediaMetadata"_s).toObject();
    item.capabilityOverrides = o.value(u"capabilities"_s).toObject();
    item.properties = o.value(u"properties"_s).toObject();
    item.appProperties = o.value(u"appProperties"_s).toObject();
    item.originalFilename = o.value(u"originalFilename"_s).toString();
    item.lastModifyingUser = o.value(u"lastModifyingUser"_s).toString();
    item.writersCanShare = o.value(u"writersCanShare"_s).toBool(true);
    item.copyRequiresWriterPermission = o.value(u"copyRequiresWriterPermission"_s).toBool();
    item.folderColorRgb = o.value(u"folderColorRgb"_s).toString();
    for (const QJsonValue &p : o.value(u"permissions"_s).toArray())
        item.permissions.append(permissionFromJson(p.toObject(), item.createdTime));

    QJsonObject thumb = o.value(u"thumbnail"_s).toObject();
    if (thumb.contains(u"file"_s)) {
        const QByteArray png = seedFile(baseDir, thumb.value(u"file"_s).toString(), u"thumbnail"_s);
        thumb = QJsonObject{{u"png"_s, QString::fromLatin1(png.toBase64())}};
    }
    item.thumbnail = thumb;

    const QJsonObject content = o.value(u"content"_s).toObject();
    if (!content.isEmpty() && item.isGoogleType())
        bad(u"Google-native item with content: "_s + item.name);
    if (content.contains(u"generated"_s)) {
        const QJsonObject g = content.value(u"generated"_s).toObject();
        item.content = ContentBlob::generated(quint64(integer(g.value(u"seed"_s), 1)),
                                              integer(g.value(u"size"_s)));
    } else if (content.contains(u"text"_s)) {
        item.content = m_store.write(content.value(u"text"_s).toString().toUtf8());
    } else if (content.contains(u"base64"_s)) {
        item.content =
            m_store.write(QByteArray::fromBase64(content.value(u"base64"_s).toString().toLatin1()));
    } else if (content.contains(u"file"_s)) {
        item.content =
            m_store.write(seedFile(baseDir, content.value(u"file"_s).toString(), u"content"_s));
    } else if (content.contains(u"stored"_s)) {
        const QString path = QDir(m_store.dir()).filePath(content.value(u"stored"_s).toString());
        if (!QFileInfo::exists(path))
            bad(u"missing stored content "_s + path);
        item.content = m_store.adopt(path);
    } else if (content.contains(u"path"_s)) {
        const QString path = content.value(u"path"_s).toString();
        item.content = ContentBlob::stored(path, QFileInfo(path).size(), false);
    } else if (!content.isEmpty()) {
        bad(u"unknown content form for "_s + item.name);
    }
    if (!content.isEmpty() && !item.content)
        bad(u"cannot store content of "_s + item.name);
    if (item.content && o.contains(u"md5Checksum"_s))
        item.content->presetMd5(o.value(u"md5Checksum"_s).toString());
    return item;
}

void EmulatorState::loadItems(const QJsonArray &items, const QString &parent,
                              const QString &driveId, const QString &baseDir,
                              const QString &defaultOwner)
{
    QHash<QString, int> seen;
    for (const QJsonValue &v : items) {
        const QJsonObject o = v.toObject();
        const QString owner = o.value(u"owner"_s).toString(defaultOwner);
        QString itemParent = o.value(u"parent"_s).toString(parent);
        if (itemParent.isEmpty() && driveId.isEmpty()) {
            itemParent = rootIdOf(owner);
            if (itemParent.isEmpty())
                bad(u"unknown owner "_s + owner);
        }
        Item item = itemFromJson(o, itemParent, driveId, baseDir, owner);
        item.id = o.value(u"id"_s).toString();
        if (item.id.isEmpty()) {
            // Seeds without ids get the same ids on every load.
            const QString key = itemParent + u'/' + item.name;
            const int n = seen[key]++;
            item.id = DriveIds::stableFileId(n ? key + u'#' + QString::number(n) : key);
        }
        if (m_items.contains(item.id))
            bad(u"duplicate item id "_s + item.id);
        m_items.insert(item.id, item);
        linkChild(item);
        adjustUsage(item, +1);
        const QString key = o.value(u"key"_s).toString();
        if (!key.isEmpty())
            m_seedKeys.insert(key, item.id);
        loadItems(o.value(u"children"_s).toArray(), item.id, driveId, baseDir, owner);
    }
}

void EmulatorState::load(const QJsonObject &world, const QString &baseDir)
{
    std::lock_guard lock(m_mutex);
    for (const Item &item : std::as_const(m_items))
        if (item.content)
            item.content->discard();
    for (const auto &session : std::as_const(m_sessions))
        if (session->resultId.isEmpty())
            QFile::remove(session->path);
    m_users.clear();
    m_clients.clear();
    m_items.clear();
    m_children.clear();
    m_drives.clear();
    m_accessTokens.clear();
    m_refreshTokens.clear();
    m_authCodes.clear();
    m_sessions.clear();
    m_usage.clear();
    m_notifications.clear();
    m_manifest.clear();
    m_seedKeys.clear();
    m_generatedIds.clear();
    m_settings = Settings();

    if (world.contains(u"settings"_s)) {
        try {
            applySettingsJson(world.value(u"settings"_s).toObject());
        } catch (const std::invalid_argument &e) {
            bad(QString::fromUtf8(e.what()));
        }
    }
    for (const QJsonValue &v : world.value(u"users"_s).toArray()) {
        const QJsonObject o = v.toObject();
        User u;
        u.email = o.value(u"email"_s).toString();
        if (u.email.isEmpty())
            bad(u"a user without email"_s);
        u.displayName = o.value(u"displayName"_s).toString();
        u.permissionId = o.value(u"permissionId"_s).toString();
        u.rootId = o.value(u"rootId"_s).toString();
        u.photoLink = o.value(u"photoLink"_s).toString();
        if (o.contains(u"quotaLimit"_s) && !o.value(u"quotaLimit"_s).isNull())
            u.quotaLimit = integer(o.value(u"quotaLimit"_s));
        u.otherUsage = integer(o.value(u"otherUsage"_s));
        addUser(u);
    }
    for (const QJsonValue &v : world.value(u"clients"_s).toArray()) {
        const QJsonObject o = v.toObject();
        OAuthClient c;
        c.clientId = o.value(u"clientId"_s).toString();
        if (c.clientId.isEmpty())
            bad(u"a client without clientId"_s);
        c.clientSecret = o.value(u"clientSecret"_s).toString();
        c.name = o.value(u"name"_s).toString(c.name);
        c.type = o.value(u"type"_s).toString(c.type);
        c.testing = o.value(u"testing"_s).toBool();
        for (const QJsonValue &t : o.value(u"testUsers"_s).toArray())
            c.testUsers.append(t.toString());
        m_clients.insert(c.clientId, c);
    }
    const QString fallbackOwner = m_users.isEmpty() ? QString() : m_users.first().email;
    for (const QJsonValue &v : world.value(u"drives"_s).toArray()) {
        const QJsonObject o = v.toObject();
        SharedDrive d;
        d.name = o.value(u"name"_s).toString();
        d.id = o.value(u"id"_s).toString(DriveIds::stableDriveId(u"drive:"_s + d.name));
        d.colorRgb = o.value(u"colorRgb"_s).toString(d.colorRgb);
        d.createdTime = time(o.value(u"createdTime"_s), now());
        d.hidden = o.value(u"hidden"_s).toBool();
        for (const QJsonValue &m : o.value(u"members"_s).toArray())
            d.members.append(permissionFromJson(m.toObject(), d.createdTime));
        insertDrive(d);
        loadItems(o.value(u"items"_s).toArray(), d.id, d.id, baseDir, fallbackOwner);
    }
    // Flat (saved) items may name parents that come later in the list: insert in passes.
    QJsonArray pending = world.value(u"items"_s).toArray();
    while (!pending.isEmpty()) {
        QJsonArray later;
        for (const QJsonValue &v : std::as_const(pending)) {
            const QJsonObject o = v.toObject();
            const QString parent = o.value(u"parent"_s).toString();
            if (!parent.isEmpty() && !m_items.contains(parent)) {
                later.append(o);
                continue;
            }
            const auto parentIt = m_items.constFind(parent);
            const QString driveId = parentIt == m_items.cend() ? QString() : parentIt->driveId;
            loadItems(QJsonArray{o}, parent, driveId, baseDir, fallbackOwner);
        }
        if (later.size() == pending.size())
            bad(u"items whose parents do not exist"_s);
        pending = later;
    }
    for (Item &item : m_items) {
        if (!item.shortcutTarget.isEmpty() && m_seedKeys.contains(item.shortcutTarget))
            item.shortcutTarget = m_seedKeys.value(item.shortcutTarget);
    }
    for (const QJsonValue &v : world.value(u"accessTokens"_s).toArray()) {
        const QJsonObject o = v.toObject();
        AccessToken t{o.value(u"user"_s).toString(fallbackOwner), o.value(u"client"_s).toString(),
                      o.value(u"scope"_s).toString(), time(o.value(u"expires"_s), QDateTime())};
        addAccessToken(o.value(u"token"_s).toString(), t);
    }
    for (const QJsonValue &v : world.value(u"refreshTokens"_s).toArray()) {
        const QJsonObject o = v.toObject();
        m_refreshTokens.insert(o.value(u"token"_s).toString(),
                               RefreshToken{o.value(u"user"_s).toString(fallbackOwner),
                                            o.value(u"client"_s).toString(),
                                            o.value(u"scope"_s).toString(),
                                            time(o.value(u"expires"_s), QDateTime())});
    }
    for (const QJsonValue &v : world.value(u"sessions"_s).toArray()) {
        const QJsonObject o = v.toObject();
        auto s = std::make_shared<UploadSession>();
        s->id = o.value(u"id"_s).toString();
        s->owner = o.value(u"owner"_s).toString();
        s->metadata = o.value(u"metadata"_s).toObject();
        s->contentType = o.value(u"contentType"_s).toString();
        s->declaredLength = integer(o.value(u"declaredLength"_s), -1);
        s->total = integer(o.value(u"total"_s), -1);
        s->path = QDir(m_store.dir()).filePath(o.value(u"file"_s).toString());
        // The bytes on disk are what a crash left: trust the file, not the counter.
        s->received = qMin(integer(o.value(u"received"_s)), QFileInfo(s->path).size());
        s->fields = o.value(u"fields"_s).toString();
        s->supportsAllDrives = o.value(u"supportsAllDrives"_s).toBool();
        s->created = time(o.value(u"created"_s), now());
        s->expires = time(o.value(u"expires"_s), now());
        s->expired = o.value(u"expired"_s).toBool();
        s->expiredStatus = int(integer(o.value(u"expiredStatus"_s), 404));
        s->resultId = o.value(u"resultId"_s).toString();
        if (!s->id.isEmpty())
            m_sessions.insert(s->id, s);
    }
    for (const QJsonValue &v : world.value(u"generatedIds"_s).toArray()) {
        const QJsonObject o = v.toObject();
        const QString id = o.value(u"id"_s).toString();
        if (!id.isEmpty())
            m_generatedIds.insert(id, o.value(u"user"_s).toString(fallbackOwner));
    }
    const QJsonValue manifest = world.value(u"manifest"_s);
    if (manifest.isObject())
        m_manifest = QJsonDocument(manifest.toObject()).toJson();
    else if (manifest.isString())
        m_manifest = manifest.toString().toUtf8();
    m_clockOffsetMs = integer(world.value(u"clockOffsetMs"_s));
    changed();
}

QJsonObject EmulatorState::save() const
{
    std::lock_guard lock(m_mutex);
    QJsonArray users, clients, drives, items, access, refresh, sessions, generatedIds;
    for (const User &u : m_users) {
        QJsonObject o{{u"email"_s, u.email},
                      {u"displayName"_s, u.displayName},
                      {u"permissionId"_s, u.permissionId},
                      {u"rootId"_s, u.rootId},
                      {u"photoLink"_s, u.photoLink},
                      {u"otherUsage"_s, QString::number(u.otherUsage)}};
        if (u.quotaLimit)
            o.insert(u"quotaLimit"_s, QString::number(*u.quotaLimit));
        users.append(o);
    }
    for (const OAuthClient &c : m_clients) {
        QJsonArray testUsers;
        for (const QString &t : c.testUsers)
            testUsers.append(t);
        clients.append(QJsonObject{{u"clientId"_s, c.clientId},
                                   {u"clientSecret"_s, c.clientSecret},
                                   {u"name"_s, c.name},
                                   {u"type"_s, c.type},
                                   {u"testing"_s, c.testing},
                                   {u"testUsers"_s, testUsers}});
    }
    for (const SharedDrive &d : m_drives) {
        QJsonArray members;
        for (const Permission &m : d.members)
            members.append(permissionJson(m));
        drives.append(QJsonObject{{u"id"_s, d.id},
                                  {u"name"_s, d.name},
                                  {u"colorRgb"_s, d.colorRgb},
                                  {u"createdTime"_s, rfc3339(d.createdTime)},
                                  {u"hidden"_s, d.hidden},
                                  {u"members"_s, members}});
    }
    for (const Item &item : m_items) {
        if (item.parent.isEmpty())
            continue; // roots come back with their users and drives
        items.append(itemJson(item));
    }
    auto tokenJson = [](const QString &token, const QString &email, const QString &clientId,
                        const QString &scope, const QDateTime &expires) {
        QJsonObject o{
            {u"token"_s, token}, {u"user"_s, email}, {u"client"_s, clientId}, {u"scope"_s, scope}};
        if (expires.isValid())
            o.insert(u"expires"_s, rfc3339(expires));
        return o;
    };
    for (auto it = m_accessTokens.begin(); it != m_accessTokens.end(); ++it)
        access.append(tokenJson(it.key(), it->email, it->clientId, it->scope, it->expires));
    for (auto it = m_refreshTokens.begin(); it != m_refreshTokens.end(); ++it)
        refresh.append(tokenJson(it.key(), it->email, it->clientId, it->scope, it->expires));
    for (const auto &s : m_sessions) {
        sessions.append(QJsonObject{{u"id"_s, s->id},
                                    {u"owner"_s, s->owner},
                                    {u"metadata"_s, s->metadata},
                                    {u"contentType"_s, s->contentType},
                                    {u"declaredLength"_s, QString::number(s->declaredLength)},
                                    {u"total"_s, QString::number(s->total.load())},
                                    {u"received"_s, QString::number(s->received.load())},
                                    {u"file"_s, QFileInfo(s->path).fileName()},
                                    {u"fields"_s, s->fields},
                                    {u"supportsAllDrives"_s, s->supportsAllDrives},
                                    {u"created"_s, rfc3339(s->created)},
                                    {u"expires"_s, rfc3339(s->expires)},
                                    {u"expired"_s, s->expired},
                                    {u"expiredStatus"_s, s->expiredStatus},
                                    {u"resultId"_s, s->resultId}});
    }
    for (auto it = m_generatedIds.begin(); it != m_generatedIds.end(); ++it)
        generatedIds.append(QJsonObject{{u"id"_s, it.key()}, {u"user"_s, it.value()}});
    QJsonObject world{{u"version"_s, 1},
                      {u"settings"_s, settingsJson()},
                      {u"users"_s, users},
                      {u"clients"_s, clients},
                      {u"drives"_s, drives},
                      {u"items"_s, items},
                      {u"accessTokens"_s, access},
                      {u"refreshTokens"_s, refresh},
                      {u"sessions"_s, sessions},
                      {u"clockOffsetMs"_s, QString::number(m_clockOffsetMs.load())},
                      {u"generatedIds"_s, generatedIds}};
    if (!m_manifest.isEmpty())
        world.insert(u"manifest"_s, QString::fromUtf8(m_manifest));
    return world;
}

QStringList EmulatorState::storedFiles() const
{
    std::lock_guard lock(m_mutex);
    QStringList out;
    for (const Item &item : m_items)
        if (item.content && item.content->kind() == ContentBlob::Kind::Stored)
            out.append(item.content->path());
    for (const auto &s : m_sessions)
        out.append(s->path);
    return out;
}

} // namespace Tarnwick::Emulator
