// EmulatorServer: uploads (simple, multipart and the resumable protocol).
#include "server/emulatorserver.h"

#include "api/apierror.h"
#include "state/contentstore.h"
#include "server/exchange.h"
#include "server/httpconnection.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick::Emulator {

namespace {

constexpr qint64 chunkUnit = 262144;

ApiError invalidRequest(const QString &message)
{
    return ApiError(400, u"badRequest"_s, message);
}

// Writes a session's bytes at absolute offsets through a 1 MiB gathering buffer.
class SessionWriter
{
public:
    explicit SessionWriter(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC))
        , m_buffer(1 << 20)
    {
    }
    ~SessionWriter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    bool write(qint64 offset, const char *data, size_t length)
    {
        if (m_used && m_start + qint64(m_used) != offset && !flush())
            return false;
        if (!m_used)
            m_start = offset;
        while (length) {
            const size_t n = std::min(length, m_buffer.size() - m_used);
            std::memcpy(m_buffer.data() + m_used, data, n);
            m_used += n;
            data += n;
            length -= n;
            if (m_used == m_buffer.size() && !flush())
                return false;
        }
        return true;
    }

    bool flush()
    {
        size_t done = 0;
        while (done < m_used) {
            const ssize_t n =
                ::pwrite(m_fd, m_buffer.data() + done, m_used - done, m_start + qint64(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        m_start += qint64(m_used);
        m_used = 0;
        return true;
    }

    void truncate(qint64 length) { (void)::ftruncate(m_fd, length); }

private:
    int m_fd;
    std::vector<char> m_buffer;
    size_t m_used = 0;
    qint64 m_start = 0;
};

struct MultipartBody
{
    QJsonObject metadata;
    QByteArray media;
    QString mediaType;
};

QString headerValue(const QByteArray &headers, const QByteArray &name)
{
    for (const QByteArray &line : headers.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(line.mid(colon + 1).trimmed());
    }
    return {};
}

MultipartBody parseMultipart(const QByteArray &body, const QByteArray &boundary)
{
    const QByteArray delimiter = "--" + boundary;
    QList<QByteArray> parts;
    qsizetype pos = body.startsWith(delimiter) ? 0 : body.indexOf("\r\n" + delimiter);
    if (pos < 0)
        throw ApiError(400, u"badContent"_s, u"Invalid multipart request with 0 mime parts."_s);
    pos = body.startsWith(delimiter) ? delimiter.size() : pos + 2 + delimiter.size();
    bool closed = false;
    while (pos < body.size()) {
        if (body.mid(pos, 2) == "--") {
            closed = true;
            break;
        }
        if (body.mid(pos, 2) != "\r\n")
            break;
        pos += 2;
        const qsizetype next = body.indexOf("\r\n" + delimiter, pos);
        if (next < 0)
            break;
        parts.append(body.mid(pos, next - pos));
        pos = next + 2 + delimiter.size();
    }
    if (!closed || parts.size() != 2)
        throw ApiError(
            400, u"badContent"_s,
            u"Invalid multipart request with %1 mime parts."_s.arg(closed ? parts.size() : 0));
    MultipartBody out;
    for (int i = 0; i < 2; ++i) {
        const qsizetype split = parts[i].indexOf("\r\n\r\n");
        const QByteArray headers = split < 0 ? parts[i] : parts[i].left(split);
        const QByteArray content = split < 0 ? QByteArray() : parts[i].mid(split + 4);
        const QString type = headerValue(headers, "Content-Type");
        if (i == 0) {
            if (!type.startsWith(u"application/json"_s, Qt::CaseInsensitive))
                throw ApiError(
                    400, u"badContent"_s,
                    u"The first part of a multipart upload must be the JSON metadata."_s);
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(content, &error);
            if (error.error != QJsonParseError::NoError || !doc.isObject())
                throw ApiError(400, u"parseError"_s,
                               u"Invalid JSON payload received. Unexpected token."_s);
            out.metadata = doc.object();
        } else {
            out.media = content;
            out.mediaType = type;
        }
    }
    return out;
}

} // namespace

void EmulatorServer::uploadApi(Exchange &ex)
{
    if (ex.path() != u"/upload/drive/v3/files"_s)
        throw ApiError(404, u"notFound"_s, u"Not Found"_s);
    const auto who = caller(ex);
    const QString method = ex.method();
    if (ex.hasParam("upload_id")) {
        if (method != u"PUT"_s && method != u"POST"_s)
            throw ApiError(404, u"notFound"_s, u"Not Found"_s);
        return uploadChunk(ex, who);
    }
    if (method != u"POST"_s)
        throw ApiError(404, u"notFound"_s, u"Method not found."_s);
    const QString type = ex.param("uploadType");
    if (type == u"resumable"_s)
        return startResumable(ex, who);
    if (type == u"multipart"_s || type == u"media"_s)
        return uploadWhole(ex, who, type == u"multipart"_s);
    throw ApiError::invalidValue(u"uploadType"_s,
                                 u"Invalid value for uploadType: '%1'."_s.arg(type));
}

void EmulatorServer::startResumable(Exchange &ex, const EmulatorState::Caller &who)
{
    const QJsonObject metadata = jsonBody(ex, false);
    qint64 declared = -1;
    const QString length = ex.header("X-Upload-Content-Length");
    if (!length.isEmpty()) {
        bool ok = false;
        declared = length.toLongLong(&ok);
        if (!ok || declared < 0)
            throw invalidRequest(u"Invalid X-Upload-Content-Length header: '%1'."_s.arg(length));
    }
    const QString type = ex.header("X-Upload-Content-Type");
    if (!type.isEmpty() && !type.contains(u'/'))
        throw invalidRequest(u"Invalid X-Upload-Content-Type header: '%1'."_s.arg(type));
    const bool all = ex.boolParam("supportsAllDrives") || ex.boolParam("supportsTeamDrives");
    if (ex.hasParam("fields"))
        FieldSelection::parse(ex.param("fields"), Schemas::file());
    const auto session =
        m_state.startUpload(who, metadata, type, declared, all, ex.param("fields"));
    QString query = ex.rawQuery();
    const QString location = baseUrl() + u"/upload/drive/v3/files?"_s + query +
                             (query.isEmpty() ? QString() : u"&"_s) + u"upload_id="_s + session->id;
    ex.empty(200);
    ex.response.set_header("Location", location.toStdString());
    ex.response.set_header("X-GUploader-UploadID", session->id.toStdString());
}

void EmulatorServer::uploadChunk(Exchange &ex, const EmulatorState::Caller &who)
{
    const auto session = m_state.uploadSession(who, ex.param("upload_id"));
    std::unique_lock lock(session->mutex);
    ex.response.set_header("X-GUploader-UploadID", session->id.toStdString());
    const std::optional<FieldSelection> selection =
        ex.hasParam("fields")
            ? fields(ex, Schemas::file())
            : (session->fields.isEmpty()
                   ? std::nullopt
                   : std::optional(FieldSelection::parse(session->fields, Schemas::file())));
    const int doneStatus = m_state.settings().uploadCompleteStatus;
    auto finished = [&] {
        ex.drain();
        ex.json(doneStatus, m_state.finishUpload(who, *session, selection));
    };
    auto incomplete = [&] {
        const qint64 received = session->received;
        if (ex.header("X-GUploader-No-308").compare(u"yes"_s, Qt::CaseInsensitive) == 0) {
            ex.empty(200);
            ex.response.set_header("X-HTTP-Status-Code-Override", "308");
        } else {
            ex.empty(308);
        }
        if (received > 0)
            ex.response.set_header("Range", "bytes=0-" + std::to_string(received - 1));
    };
    if (!session->resultId.isEmpty())
        return finished();

    const qint64 received = session->received;
    const QString header = ex.header("Content-Range").trimmed();
    static const QRegularExpression dataForm(u"^bytes (\\d+)-(\\d+)/(\\d+|\\*)$"_s);
    static const QRegularExpression queryForm(u"^bytes \\*/(\\d+|\\*)$"_s);
    auto checkTotal = [&](qint64 total) {
        if (total < 0)
            return;
        if (session->total >= 0 && session->total != total)
            throw invalidRequest(
                u"Invalid request. The total size %1 differs from %2 given before."_s.arg(total)
                    .arg(session->total.load()));
        if (session->declaredLength >= 0 && session->declaredLength != total)
            throw invalidRequest(
                u"Invalid request. The total size %1 differs from the declared X-Upload-Content-Length %2."_s
                    .arg(total)
                    .arg(session->declaredLength));
        if (total < received)
            throw invalidRequest(
                u"Invalid request. The total size %1 is less than the %2 bytes already received."_s
                    .arg(total)
                    .arg(received));
    };

    qint64 first = 0, last = -1, total = -1;
    bool wholeBody = false;
    if (header.isEmpty()) {
        wholeBody = true; // the whole upload in one request; its length is the body's
    } else if (const auto q = queryForm.match(header); q.hasMatch()) {
        if (q.captured(1) != u"*"_s)
            total = q.captured(1).toLongLong();
        const auto body = ex.readBody(0);
        if (!body || !body->isEmpty())
            throw invalidRequest(u"Invalid request. A status request carries no body."_s);
        checkTotal(total);
        if (total >= 0)
            session->total = total;
        if (session->total >= 0 && session->received == session->total)
            return finished();
        return incomplete();
    } else if (const auto d = dataForm.match(header); d.hasMatch()) {
        first = d.captured(1).toLongLong();
        last = d.captured(2).toLongLong();
        total = d.captured(3) == u"*"_s ? -1 : d.captured(3).toLongLong();
        if (last < first || (total >= 0 && last >= total))
            throw invalidRequest(u"Failed to parse Content-Range header."_s);
    } else {
        throw invalidRequest(u"Failed to parse Content-Range header."_s);
    }

    if (!wholeBody) {
        checkTotal(total);
        if (first > received)
            throw invalidRequest(
                u"Invalid request.  According to the Content-Range header, the upload offset is %1 byte(s), which exceeds already uploaded size of %2 byte(s)."_s
                    .arg(first)
                    .arg(received));
        const qint64 length = last - first + 1;
        const bool final = total >= 0 && last + 1 == total;
        if (!final && length % chunkUnit != 0)
            throw invalidRequest(
                u"Invalid request.  The number of bytes uploaded is required to be a multiple of 262144, except for the final request.  The received request contained %1 bytes, which does not meet this requirement."_s
                    .arg(length));
        if (!session->sharedDrive)
            m_state.checkQuota(who.email, total >= 0 ? total : last + 1);
    } else {
        const qint64 announced = qint64(ex.request.get_header_value<uint64_t>("Content-Length"));
        if (!session->sharedDrive && announced > 0)
            m_state.checkQuota(who.email, announced);
    }

    SessionWriter writer(session->path);
    if (!writer.isOpen())
        throw ApiError(500, u"backendError"_s, u"Backend Error"_s);
    qint64 keepLimit = std::numeric_limits<qint64>::max();
    if (ex.keepBytes != -2 && !wholeBody) {
        const qint64 length = last - first + 1;
        const qint64 keep =
            ex.keepBytes == -1 ? (length / 2) / chunkUnit * chunkUnit : ex.keepBytes;
        keepLimit = first + qBound<qint64>(0, keep, length);
    }
    qint64 position = first;
    bool writeFailed = false;
    const bool complete = ex.streamBody([&](const char *data, size_t size) {
        qint64 start = position;
        position += qint64(size);
        // Bytes the server already holds are skipped, bytes beyond what it keeps are dropped.
        qint64 from = qMax(start, received);
        const qint64 to = qMin(position, keepLimit);
        if (from < to && !writer.write(from, data + (from - start), size_t(to - from)))
            writeFailed = true;
        return !writeFailed;
    });
    const bool flushed = writer.flush();
    if (!complete || writeFailed || !flushed) {
        if (ex.connection && ex.connection->isReset()) {
            // What arrived before the break persists in whole 256 KiB units.
            const qint64 persisted =
                qMax(received, qMin(position, keepLimit) / chunkUnit * chunkUnit);
            session->received = persisted;
            writer.truncate(persisted);
            m_state.touchUploads();
            return;
        }
        writer.truncate(received);
        throw ApiError(500, u"backendError"_s, u"Backend Error"_s);
    }
    const qint64 bodyLength = position - first;
    if (wholeBody) {
        last = bodyLength - 1;
        total = bodyLength;
        checkTotal(total);
    } else if (bodyLength != last - first + 1) {
        writer.truncate(received);
        throw invalidRequest(
            u"Invalid request. The request body has %1 bytes but Content-Range announces %2."_s
                .arg(bodyLength)
                .arg(last - first + 1));
    }
    const qint64 kept = qMin(last + 1, keepLimit);
    if (kept > received)
        session->received = kept;
    writer.truncate(session->received);
    if (total >= 0)
        session->total = total;
    m_state.touchUploads();
    if (session->total >= 0 && session->received == session->total)
        return finished();
    return incomplete();
}

void EmulatorServer::uploadWhole(Exchange &ex, const EmulatorState::Caller &who, bool multipart)
{
    const qint64 limit = m_state.settings().multipartLimit;
    const bool all = ex.boolParam("supportsAllDrives") || ex.boolParam("supportsTeamDrives");
    const auto selection = fields(ex, Schemas::file());
    const ApiError tooLarge(
        413, u"uploadTooLarge"_s,
        u"Multipart and simple uploads carry at most %1 bytes of media; use a resumable upload."_s
            .arg(limit));
    MultipartBody parsed;
    if (multipart) {
        const QString type = ex.header("Content-Type");
        static const QRegularExpression boundaryForm(
            u"^multipart/related\\s*;.*boundary\\s*=\\s*\"?([^\";]+)\"?"_s,
            QRegularExpression::CaseInsensitiveOption);
        const auto m = boundaryForm.match(type);
        if (!m.hasMatch())
            throw ApiError(400, u"badContent"_s, u"Bad content type. Please use multipart."_s);
        const auto body = ex.readBody(limit + (1 << 20));
        if (!body)
            throw tooLarge;
        parsed = parseMultipart(*body, m.captured(1).trimmed().toLatin1());
    } else {
        const auto body = ex.readBody(limit);
        if (!body)
            throw tooLarge;
        parsed.media = *body;
        parsed.mediaType = ex.header("Content-Type");
    }
    if (parsed.media.size() > limit)
        throw tooLarge;
    const Blob blob = m_store.write(parsed.media);
    if (!blob)
        throw ApiError(500, u"backendError"_s, u"Backend Error"_s);
    try {
        ex.json(200,
                m_state.createFile(who, parsed.metadata, blob, parsed.mediaType, all, selection));
    } catch (...) {
        blob->discard();
        throw;
    }
}

} // namespace Tarnwick::Emulator
