// EmulatorServer: the Drive API v3 (metadata, listings, drives, permissions, media downloads).
#include "server/emulatorserver.h"

#include "api/apierror.h"
#include "state/contentblob.h"
#include "server/exchange.h"

#include <QJsonArray>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

ApiError methodNotFound()
{
    return ApiError(404, u"notFound"_s, u"Method not found."_s);
}

bool allDrivesParam(const Exchange &ex)
{
    return ex.boolParam("supportsAllDrives") || ex.boolParam("supportsTeamDrives");
}

struct ByteRange
{
    qint64 first = 0;
    qint64 last = 0;
};

// Reads a single-range "bytes=" header. nullopt: no usable range (serve everything).
// A range that cannot be satisfied throws 416.
std::optional<ByteRange> parseRange(const QString &header, qint64 size)
{
    static const QRegularExpression form(u"^\\s*bytes\\s*=\\s*(\\d*)\\s*-\\s*(\\d*)\\s*$"_s);
    const auto m = form.match(header);
    if (!m.hasMatch() || (m.captured(1).isEmpty() && m.captured(2).isEmpty()))
        return std::nullopt;
    const auto unsatisfiable = [] {
        return ApiError(416, u"requestedRangeNotSatisfiable"_s, u"Request range not satisfiable"_s,
                        u"Range"_s, u"header"_s);
    };
    bool ok = true;
    if (m.captured(1).isEmpty()) {
        const qint64 suffix = m.captured(2).toLongLong(&ok);
        if (!ok || suffix == 0 || size == 0)
            throw unsatisfiable();
        return ByteRange{qMax<qint64>(0, size - suffix), size - 1};
    }
    const qint64 first = m.captured(1).toLongLong(&ok);
    if (!ok || first >= size)
        throw unsatisfiable();
    qint64 last = size - 1;
    if (!m.captured(2).isEmpty()) {
        last = m.captured(2).toLongLong(&ok);
        if (!ok || last < first)
            return std::nullopt;
        last = qMin(last, size - 1);
    }
    return ByteRange{first, last};
}

} // namespace

void EmulatorServer::driveApi(Exchange &ex)
{
    const QStringList parts = ex.path().mid(10).split(u'/');
    const QString method = ex.method();
    const auto who = caller(ex);
    const bool all = allDrivesParam(ex);

    if (parts.size() == 1 && parts[0] == u"about"_s && method == u"GET"_s) {
        const auto sel = fields(ex, Schemas::about());
        if (!sel)
            throw ApiError::required(u"fields"_s,
                                     u"The 'fields' parameter is required for this method."_s);
        return ex.json(200, m_state.about(who, *sel));
    }
    if (parts.size() == 1 && parts[0] == u"files"_s) {
        if (method == u"GET"_s) {
            EmulatorState::ListRequest r;
            r.q = ex.param("q");
            r.pageSize = ex.intParam("pageSize", 100);
            r.pageToken = ex.param("pageToken");
            r.orderBy = ex.param("orderBy");
            r.corpora = ex.param("corpora");
            r.driveId = ex.hasParam("driveId") ? ex.param("driveId") : ex.param("teamDriveId");
            r.supportsAllDrives = all;
            r.includeItemsFromAllDrives =
                ex.boolParam("includeItemsFromAllDrives") || ex.boolParam("includeTeamDriveItems");
            r.fields = fields(ex, Schemas::fileList());
            return ex.json(200, m_state.listFiles(who, r));
        }
        if (method == u"POST"_s) {
            const QJsonObject body = jsonBody(ex, false);
            return ex.json(
                200, m_state.createFile(who, body, nullptr, {}, all, fields(ex, Schemas::file())));
        }
        throw methodNotFound();
    }
    if (parts.size() == 2 && parts[0] == u"files"_s && parts[1] == u"generateIds"_s) {
        if (method != u"GET"_s)
            throw methodNotFound();
        return generateIds(ex, who);
    }
    if (parts.size() >= 2 && parts[0] == u"files"_s) {
        const QString &id = parts[1];
        if (parts.size() == 2) {
            if (method == u"GET"_s) {
                const QString alt = ex.hasParam("alt") ? ex.param("alt") : u"json"_s;
                if (alt == u"media"_s)
                    return download(ex, who, id);
                if (alt != u"json"_s)
                    throw ApiError::invalidValue(u"alt"_s);
                return ex.json(200, m_state.getFile(who, id, all, fields(ex, Schemas::file())));
            }
            if (method == u"PATCH"_s) {
                const QJsonObject body = jsonBody(ex, false);
                return ex.json(200, m_state.updateFile(who, id, body, ex.param("addParents"),
                                                       ex.param("removeParents"), all,
                                                       fields(ex, Schemas::file())));
            }
            if (method == u"DELETE"_s) {
                m_state.deleteFile(who, id, all);
                return ex.empty(204);
            }
            throw methodNotFound();
        }
        if (parts[2] != u"permissions"_s || parts.size() > 4)
            throw methodNotFound();
        EmulatorState::PermissionRequest r;
        r.supportsAllDrives = all;
        r.fields = fields(ex, parts.size() == 3 && method == u"GET"_s ? Schemas::permissionList()
                                                                      : Schemas::permission());
        if (parts.size() == 3) {
            if (method == u"GET"_s)
                return ex.json(200, m_state.listPermissions(who, id, all, r.fields));
            if (method == u"POST"_s) {
                r.body = jsonBody(ex, true);
                r.sendNotificationEmail = ex.optionalBoolParam("sendNotificationEmail");
                r.transferOwnership = ex.boolParam("transferOwnership");
                r.emailMessage = ex.param("emailMessage");
                return ex.json(200, m_state.createPermission(who, id, r));
            }
            throw methodNotFound();
        }
        const QString &permissionId = parts[3];
        if (method == u"GET"_s)
            return ex.json(200, m_state.getPermission(who, id, permissionId, all, r.fields));
        if (method == u"PATCH"_s) {
            r.body = jsonBody(ex, true);
            r.transferOwnership = ex.boolParam("transferOwnership");
            return ex.json(200, m_state.updatePermission(who, id, permissionId, r));
        }
        if (method == u"DELETE"_s) {
            m_state.deletePermission(who, id, permissionId, all);
            return ex.empty(204);
        }
        throw methodNotFound();
    }
    if (parts[0] == u"drives"_s && method == u"GET"_s) {
        if (parts.size() == 1) {
            if (ex.hasParam("q") && !ex.param("q").isEmpty())
                throw ApiError::invalidValue(u"q"_s);
            return ex.json(200, m_state.listDrives(who, ex.intParam("pageSize", 10),
                                                   ex.param("pageToken"),
                                                   fields(ex, Schemas::driveList())));
        }
        if (parts.size() == 2)
            return ex.json(200, m_state.getDrive(who, parts[1], fields(ex, Schemas::drive())));
    }
    throw methodNotFound();
}

void EmulatorServer::generateIds(Exchange &ex, const EmulatorState::Caller &who)
{
    const QString space = ex.hasParam("space") ? ex.param("space") : u"drive"_s;
    // appDataFolder is Google's too, but this emulator keeps no app data.
    if (space != u"drive"_s)
        throw ApiError::invalidValue(u"space"_s, u"Invalid value for space: '%1'."_s.arg(space));
    const QString type = ex.hasParam("type") ? ex.param("type") : u"files"_s;
    if (type != u"files"_s && type != u"shortcuts"_s)
        throw ApiError::invalidValue(u"type"_s, u"Invalid value for type: '%1'."_s.arg(type));
    const auto selection = fields(ex, Schemas::generatedIds());
    const int count = ex.intParam("count", 10);
    QJsonArray ids;
    for (const QString &id : m_state.generateIds(who, count))
        ids.append(id);
    const QJsonObject all{
        {u"kind"_s, u"drive#generatedIds"_s}, {u"space"_s, space}, {u"ids"_s, ids}};
    QJsonObject answer;
    for (auto it = all.begin(); it != all.end(); ++it)
        if (!selection || selection->wants(it.key()))
            answer.insert(it.key(), it.value());
    ex.json(200, answer);
}

void EmulatorServer::download(Exchange &ex, const EmulatorState::Caller &who, const QString &id)
{
    const EmulatorState::Download d = m_state.prepareDownload(who, id, allDrivesParam(ex));
    const qint64 size = d.size;
    std::optional<ByteRange> range;
    const QString rangeHeader = ex.header("Range");
    if (!rangeHeader.isEmpty() && !ex.ignoreRange) {
        try {
            range = parseRange(rangeHeader, size);
        } catch (const ApiError &e) {
            ex.error(e, modernErrors(ex));
            ex.response.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
    }
    const qint64 first = range ? range->first : 0;
    const qint64 length = range ? range->last - range->first + 1 : size;
    auto &res = ex.response;
    res.status = range ? 206 : 200;
    if (range)
        res.set_header("Content-Range", QStringLiteral("bytes %1-%2/%3")
                                            .arg(range->first)
                                            .arg(range->last)
                                            .arg(size)
                                            .toStdString());
    res.set_header("Content-Disposition", "attachment");
    res.set_header("Cache-Control", "private, max-age=0");
    const std::string type = d.mimeType.toStdString();
    if (length == 0 || !d.content) {
        res.set_content("", 0, type);
        return;
    }
    auto reader = std::make_shared<BlobReader>(d.content);
    if (!reader->isOpen())
        throw ApiError(500, u"backendError"_s, u"Backend Error"_s);
    // Never zeroed, and no larger than the answer: small files are most of the requests.
    const size_t bufferSize = size_t(std::min<qint64>(length, 1 << 20));
    std::shared_ptr<char[]> buffer(new char[bufferSize]);
    res.set_content_provider(
        size_t(length), type,
        [reader, buffer, bufferSize, first](size_t offset, size_t want, httplib::DataSink &sink) {
            const qint64 n = reader->read(first + qint64(offset), buffer.get(),
                                          qint64(std::min(want, bufferSize)));
            if (n <= 0)
                return false;
            return sink.write(buffer.get(), size_t(n));
        });
}

} // namespace Tarnwick::Emulator
