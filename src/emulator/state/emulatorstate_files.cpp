// Drive operations of EmulatorState: about, files, drives, permissions.
#include "state/emulatorstate.h"

#include "api/apierror.h"
#include "state/driveids.h"
#include "api/jsonvalues.h"
#include "api/naturalorder.h"
#include "api/searchquery.h"

#include <QCryptographicHash>
#include <QJsonDocument>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

const QString folderType = u"application/vnd.google-apps.folder"_s;
const QString shortcutType = u"application/vnd.google-apps.shortcut"_s;

EmulatorState::Role roleFromName(const QString &name)
{
    using Role = EmulatorState::Role;
    static const QHash<QString, Role> roles{{u"owner"_s, Role::Owner},
                                            {u"organizer"_s, Role::Organizer},
                                            {u"fileOrganizer"_s, Role::FileOrganizer},
                                            {u"writer"_s, Role::Writer},
                                            {u"commenter"_s, Role::Commenter},
                                            {u"reader"_s, Role::Reader}};
    return roles.value(name, Role::None);
}

std::optional<QDateTime> parseRfc3339(const QString &text)
{
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid() || !text.contains(u'T'))
        return std::nullopt;
    return t.toUTC();
}

QString pageToken(const QJsonObject &state)
{
    return QString::fromLatin1(
        QJsonDocument(state)
            .toJson(QJsonDocument::Compact)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QJsonObject readPageToken(const QString &token)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        token.toLatin1(), QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        throw ApiError::invalidValue(u"pageToken"_s);
    const QJsonObject state = QJsonDocument::fromJson(*decoded).object();
    if (state.isEmpty())
        throw ApiError::invalidValue(u"pageToken"_s);
    return state;
}

QString hashOf(const QStringList &parts)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(parts.join(u'\x1f').toUtf8(), QCryptographicHash::Sha256)
            .toHex()
            .left(16));
}

const FieldSelection &defaultFileFields()
{
    static const FieldSelection s =
        FieldSelection::of({u"kind"_s, u"id"_s, u"name"_s, u"mimeType"_s});
    return s;
}

const FieldSelection &defaultPermissionFields()
{
    static const FieldSelection s = FieldSelection::of({u"kind"_s, u"id"_s, u"type"_s, u"role"_s});
    return s;
}

QString checkString(const QJsonObject &body, const QString &key)
{
    const QJsonValue v = body.value(key);
    if (v.isUndefined() || v.isNull())
        return {};
    if (!v.isString())
        throw ApiError::invalidValue(key, u"Invalid value for %1."_s.arg(key));
    return v.toString();
}

} // namespace

// ---- what a search query sees of one item

class EmulatorState::Subject final : public SearchQuery::Subject
{
public:
    Subject(const EmulatorState &state, const Item &item, const Caller &caller)
        : m_state(state)
        , m_item(item)
        , m_caller(caller)
    {
    }

    QString text(SearchQuery::Field field) const override
    {
        switch (field) {
        case SearchQuery::Field::Name:
            return m_item.name;
        case SearchQuery::Field::MimeType:
            return m_item.mimeType;
        case SearchQuery::Field::FullText:
            return m_item.name + u' ' + m_item.description;
        case SearchQuery::Field::Visibility: {
            for (const Permission &p : m_state.effectivePermissions(m_item)) {
                if (p.type == u"anyone"_s)
                    return p.allowFileDiscovery ? u"anyoneCanFind"_s : u"anyoneWithLink"_s;
                if (p.type == u"domain"_s)
                    return p.allowFileDiscovery ? u"domainCanFind"_s : u"domainWithLink"_s;
            }
            return u"limited"_s;
        }
        default:
            return {};
        }
    }

    bool flag(SearchQuery::Field field) const override
    {
        switch (field) {
        case SearchQuery::Field::Trashed:
            return m_state.trashedLocked(m_item);
        case SearchQuery::Field::Starred:
            return m_item.starred;
        case SearchQuery::Field::SharedWithMe:
            return m_state.sharedWithMe(m_item, m_caller.email);
        default:
            return false;
        }
    }

    std::optional<QDateTime> time(SearchQuery::Field field) const override
    {
        switch (field) {
        case SearchQuery::Field::ModifiedTime:
            return m_item.modifiedTime;
        case SearchQuery::Field::CreatedTime:
            return m_item.createdTime;
        case SearchQuery::Field::SharedWithMeTime:
            for (const Permission &p : m_item.permissions)
                if (p.emailAddress.compare(m_caller.email, Qt::CaseInsensitive) == 0)
                    return p.created;
            return std::nullopt;
        default:
            return std::nullopt;
        }
    }

    bool inCollection(SearchQuery::Field field, const QString &value) const override
    {
        switch (field) {
        case SearchQuery::Field::Parents:
            return !m_item.parent.isEmpty() &&
                   m_item.parent == m_state.resolveAlias(m_caller, value);
        case SearchQuery::Field::Owners:
            return m_item.owner.compare(value == u"me"_s ? m_caller.email : value,
                                        Qt::CaseInsensitive) == 0;
        case SearchQuery::Field::Writers:
        case SearchQuery::Field::Readers: {
            const QString who = value == u"me"_s ? m_caller.email : value;
            const Role minimum = field == SearchQuery::Field::Writers ? Role::Writer : Role::Reader;
            for (const Permission &p : m_state.effectivePermissions(m_item))
                if (p.emailAddress.compare(who, Qt::CaseInsensitive) == 0 &&
                    roleFromName(p.role) >= minimum)
                    return true;
            return false;
        }
        default:
            return false;
        }
    }

private:
    const EmulatorState &m_state;
    const Item &m_item;
    const Caller &m_caller;
};

// ---- about

QJsonObject EmulatorState::about(const Caller &caller, const FieldSelection &fields) const
{
    std::lock_guard lock(m_mutex);
    const auto u = user(caller.email);
    QJsonObject out;
    auto put = [&](const QString &name, const QJsonValue &value) {
        if (fields.wants(name))
            out.insert(name, value);
    };
    put(u"kind"_s, u"drive#about"_s);
    if (fields.wants(u"user"_s))
        out.insert(u"user"_s, renderUser(caller.email, caller, fields.sub(u"user"_s)));
    if (fields.wants(u"storageQuota"_s)) {
        const FieldSelection sub = fields.sub(u"storageQuota"_s);
        qint64 inTrash = 0;
        for (const Item &item : m_items)
            if (item.driveId.isEmpty() &&
                item.owner.compare(caller.email, Qt::CaseInsensitive) == 0 && trashedLocked(item))
                inTrash += item.size();
        const qint64 inDrive = m_usage.value(caller.email.toLower());
        QJsonObject quota;
        if (u && u->quotaLimit && sub.wants(u"limit"_s))
            quota.insert(u"limit"_s, QString::number(*u->quotaLimit));
        if (sub.wants(u"usage"_s))
            quota.insert(u"usage"_s, QString::number(inDrive + (u ? u->otherUsage : 0)));
        if (sub.wants(u"usageInDrive"_s))
            quota.insert(u"usageInDrive"_s, QString::number(inDrive));
        if (sub.wants(u"usageInDriveTrash"_s))
            quota.insert(u"usageInDriveTrash"_s, QString::number(inTrash));
        out.insert(u"storageQuota"_s, quota);
    }
    put(u"maxUploadSize"_s, u"5497558138880"_s);
    put(u"appInstalled"_s, false);
    put(u"canCreateDrives"_s, true);
    put(u"canCreateTeamDrives"_s, true);
    put(u"folderColorPalette"_s,
        QJsonArray{u"#ac725e"_s, u"#d06b64"_s, u"#f83a22"_s, u"#fa573c"_s, u"#ff7537"_s,
                   u"#ffad46"_s, u"#42d692"_s, u"#16a765"_s, u"#7bd148"_s, u"#b3dc6c"_s,
                   u"#fbe983"_s, u"#fad165"_s, u"#92e1c0"_s, u"#9fe1e7"_s, u"#9fc6e7"_s,
                   u"#4986e7"_s, u"#9a9cff"_s, u"#b99aff"_s, u"#c2c2c2"_s, u"#cabdbf"_s,
                   u"#cca6ac"_s, u"#f691b2"_s, u"#cd74e6"_s, u"#a47ae2"_s});
    put(u"importFormats"_s, QJsonObject{});
    put(u"exportFormats"_s,
        QJsonObject{{u"application/vnd.google-apps.document"_s, QJsonArray{u"application/pdf"_s}}});
    put(u"maxImportSizes"_s, QJsonObject{});
    put(u"driveThemes"_s, QJsonArray{});
    put(u"teamDriveThemes"_s, QJsonArray{});
    return out;
}

// ---- files.list

QJsonObject EmulatorState::listFiles(const Caller &caller, const ListRequest &r) const
{
    if (r.pageSize < 1 || r.pageSize > 1000)
        throw ApiError::invalidValue(
            u"pageSize"_s,
            u"Invalid value '%1'. Values must be within the range: [1, 1000]"_s.arg(r.pageSize));
    const SearchQuery query = SearchQuery::parse(r.q);

    enum class By { Folder, NameNatural, Name, Size, Starred, Created, Modified };
    struct OrderKey
    {
        By by;
        bool descending;
    };
    QList<OrderKey> order;
    static const QStringList orderNames{
        u"createdTime"_s,    u"folder"_s,        u"modifiedByMeTime"_s,
        u"modifiedTime"_s,   u"name"_s,          u"name_natural"_s,
        u"quotaBytesUsed"_s, u"recency"_s,       u"sharedWithMeTime"_s,
        u"starred"_s,        u"viewedByMeTime"_s};
    const QString orderBy = r.orderBy.isEmpty() ? u"modifiedTime desc"_s : r.orderBy;
    for (const QString &part : orderBy.split(u',')) {
        const QStringList words = part.simplified().split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty() || words.size() > 2 || !orderNames.contains(words[0]) ||
            (words.size() == 2 && words[1] != u"desc"_s && words[1] != u"asc"_s))
            throw ApiError::invalidValue(u"orderBy"_s);
        const QString &n = words[0];
        const By by = n == u"folder"_s           ? By::Folder
                      : n == u"name_natural"_s   ? By::NameNatural
                      : n == u"name"_s           ? By::Name
                      : n == u"quotaBytesUsed"_s ? By::Size
                      : n == u"starred"_s        ? By::Starred
                      : n == u"createdTime"_s    ? By::Created
                                                 : By::Modified;
        order.append({by, words.size() == 2 && words[1] == u"desc"_s});
    }

    const QString corpora = r.corpora.isEmpty() ? u"user"_s : r.corpora;
    if (!QStringList{u"user"_s, u"drive"_s, u"allDrives"_s, u"domain"_s}.contains(corpora))
        throw ApiError::invalidValue(u"corpora"_s);
    if (r.includeItemsFromAllDrives && !r.supportsAllDrives)
        throw ApiError::invalidValue(
            u"includeItemsFromAllDrives"_s,
            u"The includeItemsFromAllDrives parameter is only supported when supportsAllDrives is set to true."_s);
    if ((corpora == u"drive"_s) != !r.driveId.isEmpty())
        throw ApiError::invalidValue(
            u"driveId"_s,
            u"The driveId parameter must be specified if and only if corpora is set to drive."_s);
    if ((corpora == u"drive"_s || corpora == u"allDrives"_s) && !r.includeItemsFromAllDrives)
        throw ApiError::invalidValue(
            u"includeItemsFromAllDrives"_s,
            u"The includeItemsFromAllDrives parameter must be set to true when corpora is set to drive or allDrives."_s);
    const bool allDrives = r.includeItemsFromAllDrives && r.supportsAllDrives;
    const QString queryHash =
        hashOf({r.q, orderBy, corpora, r.driveId, allDrives ? u"1"_s : u"0"_s, caller.email});
    // Only a folder's children are warmed: a search over everything would hash the world.
    if (const auto parent = query.requiredParent(); parent && r.fields) {
        QStringList ids;
        {
            std::lock_guard lock(m_mutex);
            ids = m_children.value(resolveAlias(caller, *parent)).values();
        }
        warmChecksums(ids, r.fields->sub(u"files"_s));
    }

    std::lock_guard lock(m_mutex);
    QList<const Item *> candidates;
    if (const auto parent = query.requiredParent()) {
        for (const QString &id : m_children.value(resolveAlias(caller, *parent)))
            if (const auto it = m_items.constFind(id); it != m_items.cend())
                candidates.append(&it.value());
    } else {
        for (const Item &item : m_items)
            candidates.append(&item);
    }
    QList<const Item *> matches;
    for (const Item *item : std::as_const(candidates)) {
        if (item->parent.isEmpty())
            continue;
        if (!item->driveId.isEmpty()) {
            if (!allDrives || (corpora == u"drive"_s && item->driveId != r.driveId))
                continue;
        } else if (corpora == u"drive"_s) {
            continue;
        }
        if (roleLocked(*item, caller.email) == Role::None)
            continue;
        if (!query.matches(Subject(*this, *item, caller)))
            continue;
        matches.append(item);
    }

    // Sort keys are prepared once per item: comparing prepared names is cheap, preparing is not.
    struct Entry
    {
        const Item *item;
        bool folder;
        NaturalKey natural;
    };
    const bool natural = std::any_of(order.begin(), order.end(),
                                     [](const OrderKey &k) { return k.by == By::NameNatural; });
    std::vector<Entry> entries;
    entries.reserve(size_t(matches.size()));
    for (const Item *item : std::as_const(matches))
        entries.push_back(
            Entry{item, item->isFolder(), natural ? naturalKey(item->name) : NaturalKey()});
    auto compareKey = [&](const OrderKey &key, const Entry &ea, const Entry &eb) -> int {
        const Item *a = ea.item, *b = eb.item;
        switch (key.by) {
        case By::Folder:
            return int(eb.folder) - int(ea.folder);
        case By::NameNatural:
            return naturalCompare(ea.natural, eb.natural);
        case By::Name: {
            const int c = a->name.compare(b->name, Qt::CaseInsensitive);
            return c ? c : a->name.compare(b->name);
        }
        case By::Size:
            return a->size() < b->size() ? -1 : (a->size() > b->size() ? 1 : 0);
        case By::Starred:
            return int(a->starred) - int(b->starred);
        case By::Created:
            return a->createdTime < b->createdTime ? -1 : (a->createdTime > b->createdTime ? 1 : 0);
        case By::Modified:
            break;
        }
        return a->modifiedTime < b->modifiedTime ? -1 : (a->modifiedTime > b->modifiedTime ? 1 : 0);
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        for (const OrderKey &key : order) {
            const int c = compareKey(key, a, b);
            if (c != 0)
                return key.descending ? c > 0 : c < 0;
        }
        return a.item->id < b.item->id;
    });
    for (qsizetype i = 0; i < matches.size(); ++i)
        matches[i] = entries[size_t(i)].item;

    qint64 offset = 0;
    int pageIndex = 0;
    if (!r.pageToken.isEmpty()) {
        const QJsonObject token = readPageToken(r.pageToken);
        if (token.value(u"h"_s).toString() != queryHash)
            throw ApiError::invalidValue(u"pageToken"_s);
        offset = qint64(token.value(u"o"_s).toDouble(-1));
        pageIndex = token.value(u"p"_s).toInt();
        if (offset < 0 || offset > matches.size())
            throw ApiError::invalidValue(u"pageToken"_s);
    }
    const qint64 total = matches.size();
    qint64 count = r.pageSize;
    if (m_settings.emptyPageEvery > 0 && (pageIndex + 1) % m_settings.emptyPageEvery == 0 &&
        offset < total)
        count = 0;
    else if (m_settings.shortPageEvery > 0 && (pageIndex + 1) % m_settings.shortPageEvery == 0)
        count = qMax(1, r.pageSize / 2);
    const qint64 end = qMin(total, offset + count);
    const bool more = m_settings.endlessPages || end < total ||
                      (count > 0 && end == total && end - offset == r.pageSize && total > 0 &&
                       m_settings.trailingEmptyPage);
    // An endless listing starts over once past the last item; the page index keeps every token
    // new.
    const qint64 next = m_settings.endlessPages && end == total ? 0 : end;

    const FieldSelection fields = r.fields.value_or(
        FieldSelection::of({u"kind"_s, u"incompleteSearch"_s, u"nextPageToken"_s, u"files"_s}));
    const FieldSelection fileFields = r.fields ? fields.sub(u"files"_s) : defaultFileFields();
    QJsonObject out;
    if (fields.wants(u"kind"_s))
        out.insert(u"kind"_s, u"drive#fileList"_s);
    if (more && fields.wants(u"nextPageToken"_s))
        out.insert(
            u"nextPageToken"_s,
            pageToken({{u"o"_s, double(next)}, {u"p"_s, pageIndex + 1}, {u"h"_s, queryHash}}));
    if (fields.wants(u"incompleteSearch"_s))
        out.insert(u"incompleteSearch"_s, false);
    if (fields.wants(u"files"_s)) {
        QJsonArray files;
        for (qint64 i = offset; i < end; ++i)
            files.append(renderFile(*matches[i], caller, fileFields));
        out.insert(u"files"_s, files);
    }
    return out;
}

// ---- files.get and media

void EmulatorState::warmChecksums(const QStringList &ids, const FieldSelection &fields) const
{
    const bool md5 = fields.wants(u"md5Checksum"_s), sha = fields.wants(u"sha256Checksum"_s);
    if (!md5 && !sha)
        return;
    QList<Blob> blobs;
    {
        std::lock_guard lock(m_mutex);
        for (const QString &id : ids)
            if (const auto it = m_items.constFind(id); it != m_items.cend() && it->content)
                blobs.append(it->content);
    }
    for (const Blob &blob : std::as_const(blobs)) {
        if (md5)
            blob->md5Hex();
        if (sha)
            blob->sha256Hex();
    }
}

QJsonObject EmulatorState::getFile(const Caller &caller, const QString &id, bool supportsAllDrives,
                                   const std::optional<FieldSelection> &fields) const
{
    if (fields)
        warmChecksums({resolveAlias(caller, id)}, *fields);
    std::lock_guard lock(m_mutex);
    const Item &item = visibleItem(caller, id, supportsAllDrives);
    return renderFile(item, caller, fields.value_or(defaultFileFields()));
}

EmulatorState::Download EmulatorState::prepareDownload(const Caller &caller, const QString &id,
                                                       bool supportsAllDrives) const
{
    std::lock_guard lock(m_mutex);
    const Item &item = visibleItem(caller, id, supportsAllDrives);
    if (item.isGoogleType())
        throw ApiError(
            403, u"fileNotDownloadable"_s,
            u"Only files with binary content can be downloaded. Use Export with Docs Editors files."_s,
            u"alt"_s);
    const QJsonObject caps =
        capabilities(item, roleLocked(item, caller.email), FieldSelection::of({u"canDownload"_s}));
    if (!caps.value(u"canDownload"_s).toBool())
        throw ApiError(403, u"cannotDownloadFile"_s,
                       u"The user does not have permission to download this file."_s);
    return Download{item.content, item.size(), item.mimeType, item.name};
}

// ---- files.generateIds and files.create

namespace {

ApiError notUsableId()
{
    return ApiError(400, u"invalid"_s, u"The provided file ID is not usable."_s, u"file.id"_s);
}

} // namespace

QStringList EmulatorState::generateIds(const Caller &caller, int count)
{
    requireWriteScope(caller);
    if (count < 1 || count > 1000)
        throw ApiError::invalidValue(
            u"count"_s,
            u"Invalid value '%1'. Values must be within the range: [1, 1000]"_s.arg(count));
    std::lock_guard lock(m_mutex);
    QStringList ids;
    ids.reserve(count);
    while (ids.size() < count) {
        const QString id = DriveIds::newFileId();
        if (m_items.contains(id) || m_generatedIds.contains(id))
            continue;
        m_generatedIds.insert(id, caller.email);
        ids.append(id);
    }
    changed();
    return ids;
}

void EmulatorState::checkWritableFields(const QJsonObject &body,
                                        const QSet<QString> &writable) const
{
    const FieldSchema &schema = Schemas::file();
    for (auto it = body.begin(); it != body.end(); ++it) {
        if (writable.contains(it.key()))
            continue;
        if (it.key() == u"kind"_s && it.value().toString() == u"drive#file"_s)
            continue;
        if (!schema.fields.contains(it.key()))
            throw ApiError(
                400, u"badRequest"_s,
                u"Invalid JSON payload received. Unknown name \"%1\": Cannot find field."_s.arg(
                    it.key()));
        if (it.key() == u"parents"_s)
            throw ApiError(
                403, u"fieldNotWritable"_s,
                u"The parents field is not directly writable in update requests. Use the addParents and removeParents parameters instead."_s);
        throw ApiError(403, u"fieldNotWritable"_s,
                       u"The resource body includes fields which are not directly writable."_s);
    }
}

QString EmulatorState::checkCreate(const Caller &caller, const QJsonObject &metadata,
                                   bool supportsAllDrives, bool withContent) const
{
    requireWriteScope(caller);
    static const QSet<QString> writable{u"name"_s,
                                        u"mimeType"_s,
                                        u"parents"_s,
                                        u"description"_s,
                                        u"starred"_s,
                                        u"properties"_s,
                                        u"appProperties"_s,
                                        u"modifiedTime"_s,
                                        u"createdTime"_s,
                                        u"originalFilename"_s,
                                        u"shortcutDetails"_s,
                                        u"folderColorRgb"_s,
                                        u"writersCanShare"_s,
                                        u"copyRequiresWriterPermission"_s,
                                        u"viewersCanCopyContent"_s,
                                        u"contentHints"_s,
                                        u"id"_s};
    const QJsonValue idValue = metadata.value(u"id"_s);
    if (!idValue.isUndefined() && !idValue.isNull() && !idValue.isString())
        throw notUsableId();
    checkWritableFields(metadata, writable);
    checkString(metadata, u"name"_s);
    const QString mimeType = checkString(metadata, u"mimeType"_s);
    checkString(metadata, u"description"_s);
    if (metadata.contains(u"modifiedTime"_s) &&
        !parseRfc3339(checkString(metadata, u"modifiedTime"_s)))
        throw ApiError::invalidValue(u"modifiedTime"_s);
    if (metadata.contains(u"starred"_s) && !metadata.value(u"starred"_s).isBool())
        throw ApiError::invalidValue(u"starred"_s);

    QStringList parents;
    const QJsonValue pv = metadata.value(u"parents"_s);
    if (!pv.isUndefined() && !pv.isNull()) {
        if (!pv.isArray())
            throw ApiError::invalidValue(u"parents"_s);
        for (const QJsonValue &p : pv.toArray()) {
            if (!p.isString() || p.toString().isEmpty())
                throw ApiError::invalidValue(u"parents"_s);
            parents.append(p.toString());
        }
    }
    if (parents.size() > 1)
        throw ApiError(403, u"cannotAddParent"_s,
                       u"Increasing the number of parents is not allowed."_s);

    std::lock_guard lock(m_mutex);
    if (idValue.isString()) {
        const QString id = idValue.toString();
        if (id.isEmpty() ||
            m_generatedIds.value(id).compare(caller.email, Qt::CaseInsensitive) != 0)
            throw notUsableId();
        if (m_items.contains(id))
            throw ApiError(409, u"duplicate"_s, u"A file already exists with the provided ID."_s,
                           u"file.id"_s);
    }
    const QString parentId =
        parents.isEmpty() ? rootIdOf(caller.email) : resolveAlias(caller, parents[0]);
    const Item &parent = visibleItem(caller, parentId, supportsAllDrives);
    if (!parent.isFolder())
        throw ApiError(400, u"invalid"_s, u"The specified parent is not a folder."_s, u"parents"_s);
    if (roleLocked(parent, caller.email) < Role::Writer)
        throw ApiError::insufficientPermissions();
    if (withContent && mimeType.startsWith(u"application/vnd.google-apps."_s))
        throw ApiError(400, u"badContent"_s,
                       u"Uploads are not converted to Google formats here; leave mimeType out."_s);
    if (mimeType == shortcutType) {
        const QString target =
            metadata.value(u"shortcutDetails"_s).toObject().value(u"targetId"_s).toString();
        if (target.isEmpty())
            throw ApiError::required(u"shortcutDetails.targetId"_s,
                                     u"A shortcut needs shortcutDetails.targetId."_s);
        visibleItem(caller, target, true);
    }
    return parent.id;
}

QJsonObject EmulatorState::createFile(const Caller &caller, const QJsonObject &metadata,
                                      Blob content, const QString &mediaType,
                                      bool supportsAllDrives,
                                      const std::optional<FieldSelection> &fields)
{
    std::lock_guard lock(m_mutex);
    const QString id =
        createItem(caller, metadata, std::move(content), mediaType, supportsAllDrives);
    return renderFile(m_items[id], caller, fields.value_or(defaultFileFields()));
}

QString EmulatorState::createItem(const Caller &caller, const QJsonObject &metadata, Blob content,
                                  const QString &mediaType, bool supportsAllDrives)
{
    std::lock_guard lock(m_mutex);
    const QString parentId = checkCreate(caller, metadata, supportsAllDrives, bool(content));
    const Item &parent = m_items[parentId];
    Item item;
    item.id = metadata.value(u"id"_s).toString();
    if (item.id.isEmpty())
        item.id = DriveIds::newFileId();
    item.name = metadata.value(u"name"_s).toString(u"Untitled"_s);
    QString mime = metadata.value(u"mimeType"_s).toString();
    if (mime.isEmpty())
        mime = mediaType.isEmpty() ? u"application/octet-stream"_s
                                   : mediaType.section(u';', 0, 0).trimmed();
    item.mimeType = mime;
    item.parent = parent.id;
    item.driveId = parent.driveId;
    item.owner = item.driveId.isEmpty() ? caller.email : QString();
    if (content && item.driveId.isEmpty())
        checkQuota(caller.email, content->size());
    item.createdTime = item.modifiedTime = now();
    if (const auto t = parseRfc3339(metadata.value(u"modifiedTime"_s).toString()))
        item.modifiedTime = *t;
    item.description = metadata.value(u"description"_s).toString();
    item.starred = metadata.value(u"starred"_s).toBool();
    item.properties = metadata.value(u"properties"_s).toObject();
    item.appProperties = metadata.value(u"appProperties"_s).toObject();
    item.folderColorRgb = metadata.value(u"folderColorRgb"_s).toString();
    item.writersCanShare = metadata.value(u"writersCanShare"_s).toBool(true);
    item.copyRequiresWriterPermission = metadata.value(u"copyRequiresWriterPermission"_s).toBool();
    item.shortcutTarget =
        metadata.value(u"shortcutDetails"_s).toObject().value(u"targetId"_s).toString();
    if (!item.isGoogleType()) {
        item.content = content;
        item.originalFilename = metadata.value(u"originalFilename"_s).toString(item.name);
    }
    item.lastModifyingUser = caller.email;
    return insertItem(item);
}

// ---- files.update

QJsonObject EmulatorState::updateFile(const Caller &caller, const QString &id,
                                      const QJsonObject &patch, const QString &addParents,
                                      const QString &removeParents, bool supportsAllDrives,
                                      const std::optional<FieldSelection> &fields)
{
    requireWriteScope(caller);
    static const QSet<QString> writable{u"name"_s,
                                        u"description"_s,
                                        u"starred"_s,
                                        u"trashed"_s,
                                        u"mimeType"_s,
                                        u"modifiedTime"_s,
                                        u"properties"_s,
                                        u"appProperties"_s,
                                        u"originalFilename"_s,
                                        u"folderColorRgb"_s,
                                        u"writersCanShare"_s,
                                        u"copyRequiresWriterPermission"_s,
                                        u"viewersCanCopyContent"_s,
                                        u"contentHints"_s,
                                        u"viewedByMeTime"_s};
    checkWritableFields(patch, writable);
    std::lock_guard lock(m_mutex);
    const Item &current = visibleItem(caller, id, supportsAllDrives);
    const Role role = roleLocked(current, caller.email);
    const QJsonObject caps = capabilities(current, role, FieldSelection::everything());
    Item item = current;
    bool contentChange = false;

    if (patch.contains(u"name"_s)) {
        const QString name = checkString(patch, u"name"_s);
        if (!caps.value(u"canRename"_s).toBool())
            throw ApiError::insufficientPermissions();
        if (name != item.name) {
            item.name = name;
            contentChange = true;
        }
    }
    if (patch.contains(u"trashed"_s)) {
        const QJsonValue v = patch.value(u"trashed"_s);
        if (!v.isBool())
            throw ApiError::invalidValue(u"trashed"_s);
        if (v.toBool() != item.explicitlyTrashed) {
            const bool may = v.toBool()
                                 ? caps.value(u"canTrash"_s).toBool()
                                 : (caps.value(u"canUntrash"_s).toBool() || role == Role::Owner);
            if (!may)
                throw ApiError::insufficientPermissions();
            item.explicitlyTrashed = v.toBool();
            item.trashedTime = v.toBool() ? now() : QDateTime();
        }
    }
    for (const QString &key :
         {u"description"_s, u"mimeType"_s, u"folderColorRgb"_s, u"originalFilename"_s}) {
        if (!patch.contains(key))
            continue;
        const QString value = checkString(patch, key);
        if (role < Role::Writer)
            throw ApiError::insufficientPermissions();
        if (key == u"description"_s)
            item.description = value;
        else if (key == u"mimeType"_s) {
            if (item.isGoogleType() != value.startsWith(u"application/vnd.google-apps."_s))
                throw ApiError(
                    403, u"fieldNotWritable"_s,
                    u"The resource body includes fields which are not directly writable."_s);
            item.mimeType = value;
        } else if (key == u"folderColorRgb"_s)
            item.folderColorRgb = value;
        else
            item.originalFilename = value;
    }
    if (patch.contains(u"starred"_s)) {
        if (!patch.value(u"starred"_s).isBool())
            throw ApiError::invalidValue(u"starred"_s);
        item.starred = patch.value(u"starred"_s).toBool();
    }
    if (patch.contains(u"modifiedTime"_s)) {
        const auto t = parseRfc3339(checkString(patch, u"modifiedTime"_s));
        if (!t)
            throw ApiError::invalidValue(u"modifiedTime"_s);
        if (role < Role::Writer)
            throw ApiError::insufficientPermissions();
        item.modifiedTime = *t;
    }
    if (patch.contains(u"properties"_s))
        item.properties = patch.value(u"properties"_s).toObject();
    if (patch.contains(u"appProperties"_s))
        item.appProperties = patch.value(u"appProperties"_s).toObject();
    if (patch.contains(u"writersCanShare"_s))
        item.writersCanShare = patch.value(u"writersCanShare"_s).toBool(true);
    if (patch.contains(u"copyRequiresWriterPermission"_s))
        item.copyRequiresWriterPermission = patch.value(u"copyRequiresWriterPermission"_s).toBool();

    const QStringList adds = addParents.split(u',', Qt::SkipEmptyParts);
    const QStringList removes = removeParents.split(u',', Qt::SkipEmptyParts);
    if (!adds.isEmpty() || !removes.isEmpty()) {
        if (!caps.value(u"canMoveItemWithinDrive"_s).toBool())
            throw ApiError::insufficientPermissions();
        QString parent = item.parent;
        for (const QString &r : removes) {
            if (resolveAlias(caller, r) != parent)
                throw ApiError(400, u"invalid"_s,
                               u"The parent %1 is not a parent of this file."_s.arg(r),
                               u"removeParents"_s);
            parent.clear();
        }
        if (adds.size() > 1 || (!adds.isEmpty() && !parent.isEmpty()))
            throw ApiError(403, u"cannotAddParent"_s,
                           u"Increasing the number of parents is not allowed."_s);
        if (adds.isEmpty())
            throw ApiError(403, u"cannotRemoveParent"_s,
                           u"A file must keep a parent; add one while removing the old."_s);
        const Item &target = visibleItem(caller, adds[0], supportsAllDrives);
        if (!target.isFolder())
            throw ApiError(400, u"invalid"_s, u"The specified parent is not a folder."_s,
                           u"addParents"_s);
        if (roleLocked(target, caller.email) < Role::Writer)
            throw ApiError::insufficientPermissions();
        if (target.driveId != item.driveId)
            throw ApiError(
                403, u"cannotMoveItemAcrossDrives"_s,
                u"Moving items between My Drive and shared drives is not supported here."_s);
        for (const Item *walk = &target; walk;) {
            if (walk->id == item.id)
                throw ApiError(400, u"invalid"_s,
                               u"A folder cannot be moved into itself or one of its descendants."_s,
                               u"addParents"_s);
            const auto p = m_items.constFind(walk->parent);
            walk = walk->parent.isEmpty() || p == m_items.cend() ? nullptr : &p.value();
        }
        unlinkChild(item);
        item.parent = target.id;
        linkChild(item);
    }
    if (contentChange) {
        item.modifiedTime = now();
        item.lastModifyingUser = caller.email;
    }
    ++item.version;
    m_items[item.id] = item;
    changed();
    return renderFile(m_items[item.id], caller, fields.value_or(defaultFileFields()));
}

// ---- files.delete

void EmulatorState::deleteFile(const Caller &caller, const QString &id, bool supportsAllDrives)
{
    requireWriteScope(caller);
    std::lock_guard lock(m_mutex);
    const Item &item = visibleItem(caller, id, supportsAllDrives);
    const QJsonObject caps =
        capabilities(item, roleLocked(item, caller.email), FieldSelection::of({u"canDelete"_s}));
    if (!caps.value(u"canDelete"_s).toBool())
        throw ApiError::insufficientPermissions();
    removeSubtree(item.id);
    changed();
}

void EmulatorState::checkQuota(const QString &email, qint64 bytes) const
{
    std::lock_guard lock(m_mutex);
    const auto u = user(email);
    if (!u || !u->quotaLimit)
        return;
    if (m_usage.value(email.toLower()) + u->otherUsage + bytes > *u->quotaLimit)
        throw ApiError::storageQuotaExceeded();
}

qint64 EmulatorState::usageOf(const QString &email) const
{
    std::lock_guard lock(m_mutex);
    const auto u = user(email);
    return m_usage.value(email.toLower()) + (u ? u->otherUsage : 0);
}

// ---- shared drives

namespace {

QJsonObject renderDrive(const EmulatorState::SharedDrive &d, EmulatorState::Role role,
                        const FieldSelection &fields)
{
    using Role = EmulatorState::Role;
    QJsonObject out;
    auto put = [&](const QString &name, const QJsonValue &value) {
        if (fields.wants(name))
            out.insert(name, value);
    };
    put(u"kind"_s, u"drive#drive"_s);
    put(u"id"_s, d.id);
    put(u"name"_s, d.name);
    put(u"colorRgb"_s, d.colorRgb);
    put(u"createdTime"_s, rfc3339(d.createdTime));
    put(u"hidden"_s, d.hidden);
    put(u"capabilities"_s, QJsonObject{{u"canAddChildren"_s, role >= Role::Writer},
                                       {u"canManageMembers"_s, role >= Role::Organizer},
                                       {u"canRename"_s, role >= Role::Organizer},
                                       {u"canDeleteDrive"_s, role >= Role::Organizer},
                                       {u"canShare"_s, role >= Role::Writer},
                                       {u"canListChildren"_s, true},
                                       {u"canDownload"_s, true}});
    put(u"restrictions"_s, QJsonObject{{u"adminManagedRestrictions"_s, false},
                                       {u"copyRequiresWriterPermission"_s, false},
                                       {u"domainUsersOnly"_s, false},
                                       {u"driveMembersOnly"_s, false}});
    return out;
}

} // namespace

QJsonObject EmulatorState::listDrives(const Caller &caller, int pageSize, const QString &token,
                                      const std::optional<FieldSelection> &fields) const
{
    if (pageSize < 1 || pageSize > 100)
        throw ApiError::invalidValue(
            u"pageSize"_s,
            u"Invalid value '%1'. Values must be within the range: [1, 100]"_s.arg(pageSize));
    std::lock_guard lock(m_mutex);
    QList<const SharedDrive *> mine;
    for (const SharedDrive &d : m_drives) {
        const auto root = m_items.constFind(d.id);
        if (root != m_items.cend() && roleLocked(*root, caller.email) != Role::None)
            mine.append(&d);
    }
    std::sort(mine.begin(), mine.end(), [](const SharedDrive *a, const SharedDrive *b) {
        const int c = naturalCompare(a->name, b->name);
        return c ? c < 0 : a->id < b->id;
    });
    const QString listHash = hashOf({u"drives"_s, caller.email});
    qint64 offset = 0;
    if (!token.isEmpty()) {
        const QJsonObject state = readPageToken(token);
        offset = qint64(state.value(u"o"_s).toDouble(-1));
        if (state.value(u"h"_s).toString() != listHash || offset < 0 || offset > mine.size())
            throw ApiError::invalidValue(u"pageToken"_s);
    }
    const qint64 end = qMin<qint64>(mine.size(), offset + pageSize);
    const FieldSelection sel =
        fields.value_or(FieldSelection::of({u"kind"_s, u"nextPageToken"_s, u"drives"_s}));
    const FieldSelection driveFields =
        fields ? sel.sub(u"drives"_s) : FieldSelection::of({u"kind"_s, u"id"_s, u"name"_s});
    QJsonObject out;
    if (sel.wants(u"kind"_s))
        out.insert(u"kind"_s, u"drive#driveList"_s);
    if (end < mine.size() && sel.wants(u"nextPageToken"_s))
        out.insert(u"nextPageToken"_s, pageToken({{u"o"_s, double(end)}, {u"h"_s, listHash}}));
    if (sel.wants(u"drives"_s)) {
        QJsonArray list;
        for (qint64 i = offset; i < end; ++i)
            list.append(
                renderDrive(*mine[i], roleLocked(m_items[mine[i]->id], caller.email), driveFields));
        out.insert(u"drives"_s, list);
    }
    return out;
}

QJsonObject EmulatorState::getDrive(const Caller &caller, const QString &id,
                                    const std::optional<FieldSelection> &fields) const
{
    std::lock_guard lock(m_mutex);
    const auto d = m_drives.constFind(id);
    const auto root = m_items.constFind(id);
    if (d == m_drives.cend() || root == m_items.cend() ||
        roleLocked(*root, caller.email) == Role::None)
        throw ApiError(404, u"notFound"_s, u"Shared drive not found: %1"_s.arg(id), u"driveId"_s);
    return renderDrive(*d, roleLocked(*root, caller.email),
                       fields.value_or(FieldSelection::of({u"kind"_s, u"id"_s, u"name"_s})));
}

// ---- permissions

QJsonObject EmulatorState::listPermissions(const Caller &caller, const QString &fileId,
                                           bool supportsAllDrives,
                                           const std::optional<FieldSelection> &fields) const
{
    std::lock_guard lock(m_mutex);
    const Item &item = visibleItem(caller, fileId, supportsAllDrives, Role::Writer);
    const FieldSelection sel = fields.value_or(FieldSelection::of({u"kind"_s, u"permissions"_s}));
    const FieldSelection permFields =
        fields ? sel.sub(u"permissions"_s) : defaultPermissionFields();
    QJsonObject out;
    if (sel.wants(u"kind"_s))
        out.insert(u"kind"_s, u"drive#permissionList"_s);
    if (sel.wants(u"permissions"_s)) {
        QJsonArray list;
        for (const Permission &p : effectivePermissions(item))
            list.append(renderPermission(p, permFields));
        out.insert(u"permissions"_s, list);
    }
    return out;
}

QJsonObject EmulatorState::getPermission(const Caller &caller, const QString &fileId,
                                         const QString &permissionId, bool supportsAllDrives,
                                         const std::optional<FieldSelection> &fields) const
{
    std::lock_guard lock(m_mutex);
    const Item &item = visibleItem(caller, fileId, supportsAllDrives);
    return renderPermission(effectivePermission(item, permissionId),
                            fields.value_or(defaultPermissionFields()));
}

QJsonObject EmulatorState::createPermission(const Caller &caller, const QString &fileId,
                                            const PermissionRequest &request)
{
    requireWriteScope(caller);
    const QJsonObject &body = request.body;
    for (auto it = body.begin(); it != body.end(); ++it) {
        static const QSet<QString> writable{
            u"type"_s,           u"role"_s, u"emailAddress"_s, u"domain"_s, u"allowFileDiscovery"_s,
            u"expirationTime"_s, u"view"_s};
        if (writable.contains(it.key()) || (it.key() == u"kind"_s))
            continue;
        if (Schemas::permission().fields.contains(it.key()))
            throw ApiError(403, u"fieldNotWritable"_s,
                           u"The resource body includes fields which are not directly writable."_s);
        throw ApiError(
            400, u"badRequest"_s,
            u"Invalid JSON payload received. Unknown name \"%1\": Cannot find field."_s.arg(
                it.key()));
    }
    const QString type = checkString(body, u"type"_s);
    const QString role = checkString(body, u"role"_s);
    if (type.isEmpty())
        throw ApiError::required(u"permission.type"_s, u"Permission type field required"_s);
    if (role.isEmpty())
        throw ApiError::required(u"permission.role"_s, u"Permission role field required"_s);
    if (!QStringList{u"user"_s, u"group"_s, u"domain"_s, u"anyone"_s}.contains(type))
        throw ApiError::invalidValue(u"permission.type"_s);
    if (roleFromName(role) == Role::None)
        throw ApiError::invalidValue(u"permission.role"_s);
    const bool person = type == u"user"_s || type == u"group"_s;
    const QString email = checkString(body, u"emailAddress"_s).trimmed();
    const QString domain = checkString(body, u"domain"_s).trimmed();
    if (request.sendNotificationEmail.has_value() && !person)
        throw ApiError(
            400, u"invalidSharingRequest"_s,
            u"Bad Request. User message: \"sendNotificationEmail parameter is only applicable for permissions of type 'user' or 'group', and must not be disabled for ownership transfers.\""_s);
    if (person) {
        if (email.isEmpty())
            throw ApiError::required(u"permission.emailAddress"_s,
                                     u"The permission emailAddress field is required."_s);
        const qsizetype at = email.indexOf(u'@');
        if (at <= 0 || at != email.lastIndexOf(u'@') || !email.mid(at + 1).contains(u'.') ||
            email.contains(u' '))
            throw ApiError(400, u"invalid"_s, u"Invalid email address: %1"_s.arg(email),
                           u"permission.emailAddress"_s);
    } else if (type == u"domain"_s && domain.isEmpty()) {
        throw ApiError::required(u"permission.domain"_s,
                                 u"The permission domain field is required."_s);
    }
    const bool notify = person && request.sendNotificationEmail.value_or(true);
    if (role == u"owner"_s) {
        if (!request.transferOwnership)
            throw ApiError(
                403, u"forbidden"_s,
                u"The transferOwnership parameter must be enabled when the permission role is 'owner'."_s);
        if (type != u"user"_s)
            throw ApiError::invalidValue(u"permission.role"_s);
        if (request.sendNotificationEmail == false)
            throw ApiError(
                400, u"invalidSharingRequest"_s,
                u"Bad Request. User message: \"sendNotificationEmail parameter is only applicable for permissions of type 'user' or 'group', and must not be disabled for ownership transfers.\""_s);
    }

    std::lock_guard lock(m_mutex);
    const Item &current = visibleItem(caller, fileId, request.supportsAllDrives);
    const Role callerRole = roleLocked(current, caller.email);
    const QJsonObject caps = capabilities(current, callerRole, FieldSelection::of({u"canShare"_s}));
    if (!caps.value(u"canShare"_s).toBool())
        throw ApiError::insufficientPermissions();
    const bool inDrive = !current.driveId.isEmpty();
    if ((role == u"organizer"_s || role == u"fileOrganizer"_s) && !inDrive)
        throw ApiError::invalidValue(u"permission.role"_s);
    if (role == u"owner"_s && (inDrive || callerRole != Role::Owner))
        throw ApiError::insufficientPermissions();
    const auto known = person ? user(email) : std::nullopt;
    if (person && !known && !notify)
        throw ApiError(
            400, u"invalidSharingRequest"_s,
            u"Bad Request. User message: \"You are trying to invite %1. Since there is no Google account associated with this email address, you must check the \"Notify people\" box to invite this recipient.\""_s
                .arg(email));

    Item item = current;
    Permission p;
    p.type = type;
    p.role = role;
    p.created = now();
    if (person) {
        p.emailAddress = known ? known->email : email;
        p.id = known ? known->permissionId : DriveIds::stablePermissionId(email.toLower());
    } else if (type == u"domain"_s) {
        p.domain = domain;
        p.id = DriveIds::stablePermissionId(u"domain:"_s + domain.toLower());
        p.allowFileDiscovery = body.value(u"allowFileDiscovery"_s).toBool();
    } else {
        p.allowFileDiscovery = body.value(u"allowFileDiscovery"_s).toBool();
        p.id = p.allowFileDiscovery ? u"anyone"_s : u"anyoneWithLink"_s;
    }
    if (role == u"owner"_s) {
        // The new owner takes the item; the old owner stays as a writer.
        const QString previous = item.owner;
        adjustUsage(item, -1);
        item.owner = p.emailAddress;
        adjustUsage(item, +1);
        item.permissions.removeIf([&](const Permission &e) { return e.id == p.id; });
        if (const auto prev = user(previous))
            item.permissions.append(Permission{
                prev->permissionId, u"user"_s, u"writer"_s, prev->email, {}, false, now()});
    } else {
        bool replaced = false;
        for (Permission &e : item.permissions) {
            if (e.id == p.id) {
                e.role = p.role;
                p = e;
                replaced = true;
            }
        }
        if (!replaced)
            item.permissions.append(p);
    }
    ++item.version;
    m_items[item.id] = item;
    if (notify)
        m_notifications.append(
            Notification{caller.email, p.emailAddress, item.id, role, request.emailMessage});
    changed();
    if (role == u"owner"_s)
        for (const Permission &e : effectivePermissions(m_items[item.id]))
            if (e.role == u"owner"_s)
                p = e;
    return renderPermission(p, request.fields.value_or(defaultPermissionFields()));
}

QJsonObject EmulatorState::updatePermission(const Caller &caller, const QString &fileId,
                                            const QString &permissionId,
                                            const PermissionRequest &request)
{
    requireWriteScope(caller);
    for (auto it = request.body.begin(); it != request.body.end(); ++it) {
        if (it.key() == u"role"_s || it.key() == u"expirationTime"_s || it.key() == u"kind"_s)
            continue;
        throw ApiError(403, u"fieldNotWritable"_s,
                       u"The resource body includes fields which are not directly writable."_s);
    }
    const QString role = checkString(request.body, u"role"_s);
    if (!role.isEmpty() && roleFromName(role) == Role::None)
        throw ApiError::invalidValue(u"permission.role"_s);
    std::lock_guard lock(m_mutex);
    const Item &current = visibleItem(caller, fileId, request.supportsAllDrives);
    const QJsonObject caps = capabilities(current, roleLocked(current, caller.email),
                                          FieldSelection::of({u"canShare"_s}));
    if (!caps.value(u"canShare"_s).toBool())
        throw ApiError::insufficientPermissions();
    if (role == u"owner"_s) {
        if (!request.transferOwnership)
            throw ApiError(
                403, u"forbidden"_s,
                u"The transferOwnership parameter must be enabled when the permission role is 'owner'."_s);
        for (const Permission &p : current.permissions) {
            if (p.id == permissionId && p.type == u"user"_s) {
                PermissionRequest create = request;
                create.body = QJsonObject{{u"type"_s, u"user"_s},
                                          {u"role"_s, u"owner"_s},
                                          {u"emailAddress"_s, p.emailAddress}};
                create.sendNotificationEmail.reset();
                return createPermission(caller, fileId, create);
            }
        }
    }
    if (effectivePermission(current, permissionId).role == u"owner"_s)
        throw ApiError(403, u"invalidOwnershipTransfer"_s,
                       u"The owner's role can only change through an ownership transfer."_s);
    Item item = current;
    for (Permission &e : item.permissions) {
        if (e.id == permissionId) {
            if (!role.isEmpty())
                e.role = role;
            ++item.version;
            m_items[item.id] = item;
            changed();
            return renderPermission(e, request.fields.value_or(defaultPermissionFields()));
        }
    }
    throw ApiError(
        403, u"cannotModifyInheritedPermission"_s,
        u"This permission is inherited from a parent folder and cannot be changed on this item."_s);
}

void EmulatorState::deletePermission(const Caller &caller, const QString &fileId,
                                     const QString &permissionId, bool supportsAllDrives)
{
    requireWriteScope(caller);
    std::lock_guard lock(m_mutex);
    const Item &current = visibleItem(caller, fileId, supportsAllDrives);
    const auto me = user(caller.email);
    const bool leaving = me && me->permissionId == permissionId;
    const QJsonObject caps = capabilities(current, roleLocked(current, caller.email),
                                          FieldSelection::of({u"canShare"_s}));
    if (!leaving && !caps.value(u"canShare"_s).toBool())
        throw ApiError::insufficientPermissions();
    if (effectivePermission(current, permissionId).role == u"owner"_s)
        throw ApiError(403, u"cannotRemoveOwner"_s, u"The owner of a file cannot be removed."_s);
    Item item = current;
    const qsizetype removed =
        item.permissions.removeIf([&](const Permission &e) { return e.id == permissionId; });
    if (removed == 0)
        throw ApiError(
            403, u"cannotDeleteInheritedPermission"_s,
            u"This permission is inherited from a parent folder and cannot be removed on this item."_s);
    ++item.version;
    m_items[item.id] = item;
    changed();
}

} // namespace Tarnwick::Emulator
