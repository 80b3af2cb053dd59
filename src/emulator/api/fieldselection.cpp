#include "api/fieldselection.h"

#include "api/apierror.h"

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

class FieldSelectionParser
{
public:
    explicit FieldSelectionParser(const QString &text)
        : m_text(text)
    {
    }

    FieldSelection parseAll(const FieldSchema &schema)
    {
        FieldSelection result = parseList(&schema);
        skipSpaces();
        if (m_pos != m_text.size())
            fail(m_text.mid(m_pos));
        return result;
    }

private:
    [[noreturn]] void fail(const QString &what) const
    {
        throw ApiError::invalidFieldSelection(what.isEmpty() ? m_text : what);
    }

    void skipSpaces()
    {
        while (m_pos < m_text.size() && m_text.at(m_pos).isSpace())
            ++m_pos;
    }

    QString name()
    {
        skipSpaces();
        const qsizetype start = m_pos;
        while (m_pos < m_text.size()) {
            const QChar c = m_text.at(m_pos);
            if (!(c.isLetterOrNumber() || c == u'_' || c == u'*' || c == u'-' || c == u'.'))
                break;
            ++m_pos;
        }
        const QString n = m_text.mid(start, m_pos - start);
        if (n.isEmpty())
            fail(m_text.mid(start));
        if (n.contains(u'*') && n != u"*"_s)
            fail(n);
        return n;
    }

    // schema null: the level is a scalar, where no sub-selection is allowed.
    FieldSelection parseList(const FieldSchema *schema)
    {
        FieldSelection out;
        for (;;) {
            out.merge(parseItem(schema));
            skipSpaces();
            if (m_pos < m_text.size() && m_text.at(m_pos) == u',') {
                ++m_pos;
                continue;
            }
            return out;
        }
    }

    FieldSelection parseItem(const FieldSchema *schema)
    {
        const QString n = name();
        FieldSelection item;
        if (n == u"*"_s) {
            item.m_all = true;
            return item;
        }
        if (!schema)
            fail(n);
        const FieldSchema *sub = nullptr;
        if (!schema->open) {
            const auto it = schema->fields.find(n);
            if (it == schema->fields.end())
                fail(n);
            sub = it.value();
        } else {
            static const FieldSchema anything{{}, true};
            sub = &anything;
        }
        FieldSelection child;
        skipSpaces();
        if (m_pos < m_text.size() && m_text.at(m_pos) == u'/') {
            ++m_pos;
            if (!sub)
                fail(n);
            child = parseItem(sub);
        } else if (m_pos < m_text.size() && m_text.at(m_pos) == u'(') {
            ++m_pos;
            if (!sub)
                fail(n);
            child = parseList(sub);
            skipSpaces();
            if (m_pos >= m_text.size() || m_text.at(m_pos) != u')')
                fail(m_text.mid(m_pos));
            ++m_pos;
        } else {
            child.m_all = true;
        }
        item.m_children.insert(n, child);
        return item;
    }

    const QString &m_text;
    qsizetype m_pos = 0;
};

FieldSelection FieldSelection::parse(const QString &text, const FieldSchema &schema)
{
    if (text.trimmed().isEmpty())
        throw ApiError::invalidFieldSelection(text);
    return FieldSelectionParser(text).parseAll(schema);
}

FieldSelection FieldSelection::everything()
{
    FieldSelection s;
    s.m_all = true;
    return s;
}

FieldSelection FieldSelection::of(const QStringList &names)
{
    FieldSelection s;
    for (const QString &n : names)
        s.m_children.insert(n, everything());
    return s;
}

FieldSelection FieldSelection::sub(const QString &name) const
{
    if (m_all)
        return everything();
    return m_children.value(name);
}

void FieldSelection::merge(const FieldSelection &other)
{
    m_all = m_all || other.m_all;
    for (auto it = other.m_children.begin(); it != other.m_children.end(); ++it) {
        auto mine = m_children.find(it.key());
        if (mine == m_children.end())
            m_children.insert(it.key(), it.value());
        else
            mine->merge(it.value());
    }
}

namespace Schemas {

namespace {

const FieldSchema openSchema{{}, true};

FieldSchema scalars(const QStringList &names)
{
    FieldSchema s;
    for (const QString &n : names)
        s.fields.insert(n, nullptr);
    return s;
}

// One page of a listing: its kind, the next page's token and the resources under key.
FieldSchema listPage(const QString &key, const FieldSchema &resource,
                     const QStringList &moreScalars = {})
{
    FieldSchema page = scalars(QStringList{u"kind"_s, u"nextPageToken"_s} + moreScalars);
    page.fields.insert(key, &resource);
    return page;
}

const FieldSchema &user()
{
    static const FieldSchema s = scalars({u"kind"_s, u"displayName"_s, u"photoLink"_s, u"me"_s,
                                          u"permissionId"_s, u"emailAddress"_s});
    return s;
}

const FieldSchema &capabilities()
{
    static const FieldSchema s = scalars(fileCapabilityNames());
    return s;
}

const FieldSchema &shortcutDetails()
{
    static const FieldSchema s =
        scalars({u"targetId"_s, u"targetMimeType"_s, u"targetResourceKey"_s});
    return s;
}

const FieldSchema &storageQuota()
{
    static const FieldSchema s =
        scalars({u"limit"_s, u"usage"_s, u"usageInDrive"_s, u"usageInDriveTrash"_s});
    return s;
}

} // namespace

const QStringList &fileCapabilityNames()
{
    static const QStringList names{u"canAcceptOwnership"_s,
                                   u"canAddChildren"_s,
                                   u"canAddFolderFromAnotherDrive"_s,
                                   u"canAddMyDriveParent"_s,
                                   u"canChangeCopyRequiresWriterPermission"_s,
                                   u"canChangeSecurityUpdateEnabled"_s,
                                   u"canChangeViewersCanCopyContent"_s,
                                   u"canComment"_s,
                                   u"canCopy"_s,
                                   u"canDelete"_s,
                                   u"canDeleteChildren"_s,
                                   u"canDownload"_s,
                                   u"canEdit"_s,
                                   u"canListChildren"_s,
                                   u"canModifyContent"_s,
                                   u"canModifyContentRestriction"_s,
                                   u"canModifyEditorContentRestriction"_s,
                                   u"canModifyOwnerContentRestriction"_s,
                                   u"canModifyLabels"_s,
                                   u"canMoveChildrenOutOfDrive"_s,
                                   u"canMoveChildrenOutOfTeamDrive"_s,
                                   u"canMoveChildrenWithinDrive"_s,
                                   u"canMoveChildrenWithinTeamDrive"_s,
                                   u"canMoveItemIntoTeamDrive"_s,
                                   u"canMoveItemOutOfDrive"_s,
                                   u"canMoveItemOutOfTeamDrive"_s,
                                   u"canMoveItemWithinDrive"_s,
                                   u"canMoveItemWithinTeamDrive"_s,
                                   u"canMoveTeamDriveItem"_s,
                                   u"canReadDrive"_s,
                                   u"canReadLabels"_s,
                                   u"canReadRevisions"_s,
                                   u"canReadTeamDrive"_s,
                                   u"canRemoveChildren"_s,
                                   u"canRemoveContentRestriction"_s,
                                   u"canRemoveMyDriveParent"_s,
                                   u"canRename"_s,
                                   u"canShare"_s,
                                   u"canTrash"_s,
                                   u"canTrashChildren"_s,
                                   u"canUntrash"_s,
                                   u"canChangeItemDownloadRestriction"_s,
                                   u"canDisableInheritedPermissions"_s,
                                   u"canEnableInheritedPermissions"_s};
    return names;
}

const FieldSchema &permission()
{
    static const FieldSchema s = [] {
        FieldSchema p = scalars({u"kind"_s, u"id"_s, u"type"_s, u"emailAddress"_s, u"domain"_s,
                                 u"role"_s, u"view"_s, u"allowFileDiscovery"_s, u"displayName"_s,
                                 u"photoLink"_s, u"expirationTime"_s, u"deleted"_s,
                                 u"pendingOwner"_s, u"inheritedPermissionsDisabled"_s});
        p.fields.insert(u"permissionDetails"_s, &openSchema);
        p.fields.insert(u"teamDrivePermissionDetails"_s, &openSchema);
        return p;
    }();
    return s;
}

const FieldSchema &file()
{
    static const FieldSchema s = [] {
        FieldSchema f = scalars({u"kind"_s,
                                 u"driveId"_s,
                                 u"fileExtension"_s,
                                 u"copyRequiresWriterPermission"_s,
                                 u"md5Checksum"_s,
                                 u"sha1Checksum"_s,
                                 u"sha256Checksum"_s,
                                 u"writersCanShare"_s,
                                 u"viewedByMe"_s,
                                 u"mimeType"_s,
                                 u"parents"_s,
                                 u"thumbnailLink"_s,
                                 u"iconLink"_s,
                                 u"shared"_s,
                                 u"headRevisionId"_s,
                                 u"webViewLink"_s,
                                 u"webContentLink"_s,
                                 u"size"_s,
                                 u"viewersCanCopyContent"_s,
                                 u"hasThumbnail"_s,
                                 u"spaces"_s,
                                 u"folderColorRgb"_s,
                                 u"id"_s,
                                 u"name"_s,
                                 u"description"_s,
                                 u"starred"_s,
                                 u"trashed"_s,
                                 u"explicitlyTrashed"_s,
                                 u"createdTime"_s,
                                 u"modifiedTime"_s,
                                 u"modifiedByMeTime"_s,
                                 u"viewedByMeTime"_s,
                                 u"sharedWithMeTime"_s,
                                 u"quotaBytesUsed"_s,
                                 u"version"_s,
                                 u"originalFilename"_s,
                                 u"ownedByMe"_s,
                                 u"fullFileExtension"_s,
                                 u"isAppAuthorized"_s,
                                 u"teamDriveId"_s,
                                 u"hasAugmentedPermissions"_s,
                                 u"thumbnailVersion"_s,
                                 u"trashedTime"_s,
                                 u"modifiedByMe"_s,
                                 u"permissionIds"_s,
                                 u"resourceKey"_s,
                                 u"inheritedPermissionsDisabled"_s});
        f.fields.insert(u"owners"_s, &user());
        f.fields.insert(u"lastModifyingUser"_s, &user());
        f.fields.insert(u"sharingUser"_s, &user());
        f.fields.insert(u"trashingUser"_s, &user());
        f.fields.insert(u"capabilities"_s, &capabilities());
        f.fields.insert(u"permissions"_s, &permission());
        f.fields.insert(u"shortcutDetails"_s, &shortcutDetails());
        for (const QString &open :
             {u"exportLinks"_s, u"properties"_s, u"appProperties"_s, u"contentHints"_s,
              u"imageMediaMetadata"_s, u"videoMediaMetadata"_s, u"contentRestrictions"_s,
              u"linkShareMetadata"_s, u"labelInfo"_s, u"downloadRestrictions"_s})
            f.fields.insert(open, &openSchema);
        return f;
    }();
    return s;
}

const FieldSchema &fileList()
{
    static const FieldSchema s = listPage(u"files"_s, file(), {u"incompleteSearch"_s});
    return s;
}

const FieldSchema &about()
{
    static const FieldSchema s = [] {
        FieldSchema a =
            scalars({u"kind"_s, u"maxUploadSize"_s, u"appInstalled"_s, u"canCreateDrives"_s,
                     u"canCreateTeamDrives"_s, u"folderColorPalette"_s});
        a.fields.insert(u"user"_s, &user());
        a.fields.insert(u"storageQuota"_s, &storageQuota());
        for (const QString &open : {u"importFormats"_s, u"exportFormats"_s, u"maxImportSizes"_s,
                                    u"driveThemes"_s, u"teamDriveThemes"_s})
            a.fields.insert(open, &openSchema);
        return a;
    }();
    return s;
}

const FieldSchema &permissionList()
{
    static const FieldSchema s = listPage(u"permissions"_s, permission());
    return s;
}

const FieldSchema &drive()
{
    static const FieldSchema s = [] {
        FieldSchema d =
            scalars({u"kind"_s, u"id"_s, u"name"_s, u"colorRgb"_s, u"backgroundImageLink"_s,
                     u"createdTime"_s, u"hidden"_s, u"themeId"_s, u"orgUnitId"_s});
        for (const QString &open : {u"capabilities"_s, u"restrictions"_s, u"backgroundImageFile"_s})
            d.fields.insert(open, &openSchema);
        return d;
    }();
    return s;
}

const FieldSchema &driveList()
{
    static const FieldSchema s = listPage(u"drives"_s, drive());
    return s;
}

const FieldSchema &generatedIds()
{
    static const FieldSchema s = scalars({u"kind"_s, u"space"_s, u"ids"_s});
    return s;
}

} // namespace Schemas

} // namespace Tarnwick::Emulator
