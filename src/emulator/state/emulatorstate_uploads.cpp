// EmulatorState: resumable upload sessions.
#include "state/emulatorstate.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "state/driveids.h"

#include <QFile>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

std::shared_ptr<EmulatorState::UploadSession>
EmulatorState::startUpload(const Caller &caller, const QJsonObject &metadata,
                           const QString &contentType, qint64 declaredLength,
                           bool supportsAllDrives, const QString &fields)
{
    std::lock_guard lock(m_mutex);
    const QString parentId = checkCreate(caller, metadata, supportsAllDrives, true);
    const bool sharedDrive = !m_items.value(parentId).driveId.isEmpty();
    if (declaredLength > 0 && !sharedDrive)
        checkQuota(caller.email, declaredLength);
    auto session = std::make_shared<UploadSession>();
    session->id = u"AFiumC"_s + DriveIds::randomToken(80);
    session->owner = caller.email;
    session->metadata = metadata;
    session->contentType = contentType;
    session->declaredLength = declaredLength;
    session->path = m_store.newPath(u".upload"_s);
    session->fields = fields;
    session->supportsAllDrives = supportsAllDrives;
    session->sharedDrive = sharedDrive;
    session->created = now();
    session->expires = session->created.addSecs(m_settings.uploadSessionLifetime);
    QFile file(session->path);
    if (!file.open(QIODevice::WriteOnly))
        throw ApiError(500, u"backendError"_s, u"Backend Error"_s);
    m_sessions.insert(session->id, session);
    changed();
    return session;
}

std::shared_ptr<EmulatorState::UploadSession> EmulatorState::uploadSession(const Caller &caller,
                                                                           const QString &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.constFind(id);
    if (it == m_sessions.cend() || (*it)->owner.compare(caller.email, Qt::CaseInsensitive) != 0)
        throw ApiError(404, u"notFound"_s, u"Not Found"_s);
    const auto &s = *it;
    if (s->expired || s->expires <= now())
        throw ApiError(s->expiredStatus, u"notFound"_s,
                       s->expiredStatus == 410 ? u"Gone"_s : u"Not Found"_s);
    return s;
}

QJsonObject EmulatorState::finishUpload(const Caller &caller, UploadSession &session,
                                        const std::optional<FieldSelection> &fields)
{
    const FieldSelection selection =
        fields.value_or(FieldSelection::of({u"kind"_s, u"id"_s, u"name"_s, u"mimeType"_s}));
    if (!session.resultId.isEmpty()) {
        warmChecksums({session.resultId}, selection);
        std::lock_guard lock(m_mutex);
        const auto it = m_items.constFind(session.resultId);
        if (it == m_items.cend())
            throw ApiError::fileNotFound(session.resultId);
        return renderFile(*it, caller, selection);
    }
    // The create may fail now (its reserved id taken meanwhile, its folder gone): say so while
    // the session's bytes are still the session's.
    checkCreate(caller, session.metadata, session.supportsAllDrives, true);
    QFile::resize(session.path, session.received);
    const Blob content = m_store.adopt(session.path);
    // Hash before taking the lock: a large upload must not hold every other request up.
    if (selection.wants(u"md5Checksum"_s))
        content->md5Hex();
    if (selection.wants(u"sha256Checksum"_s))
        content->sha256Hex();
    std::lock_guard lock(m_mutex);
    session.resultId = createItem(caller, session.metadata, content, session.contentType,
                                  session.supportsAllDrives);
    changed();
    return renderFile(m_items[session.resultId], caller, selection);
}

void EmulatorState::touchUploads()
{
    changed();
}

bool EmulatorState::expireUploadSession(const QString &id, int status)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    (*it)->expired = true;
    (*it)->expiredStatus = status;
    // The bytes of an unfinished session are of no use any more; a finished one's are the item's.
    if ((*it)->resultId.isEmpty())
        QFile::remove((*it)->path);
    changed();
    return true;
}

void EmulatorState::expireAllUploadSessions(int status)
{
    std::lock_guard lock(m_mutex);
    for (const auto &s : std::as_const(m_sessions)) {
        s->expired = true;
        s->expiredStatus = status;
        if (s->resultId.isEmpty())
            QFile::remove(s->path);
    }
    changed();
}

qint64 EmulatorState::uploadSessionReceived(const QString &id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_sessions.constFind(id);
    return it == m_sessions.cend() ? -1 : (*it)->received.load();
}

QStringList EmulatorState::uploadSessionIds() const
{
    std::lock_guard lock(m_mutex);
    return m_sessions.keys();
}

} // namespace Tarnwick::Emulator
