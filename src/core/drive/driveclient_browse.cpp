#include "drive/driveclient.h"

#include "drive/jsonreader.h"
#include "records/drivenames.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QSet>

using namespace Qt::StringLiterals;

namespace Tarnwick {

struct DriveListingPage
{
    QList<DriveFile> items;
    std::optional<QString> nextPageToken;
};

namespace {

// The next page's token; an empty token ends the listing like a missing one, and a token that
// came before fails it, since following either would read the same pages again forever. Only a
// digest of each token is kept, however long the server makes them.
std::optional<QString> nextToken(const JsonReader &page, QSet<QByteArray> &seen,
                                 QLatin1StringView record)
{
    std::optional<QString> token = page.optionalString("nextPageToken"_L1);
    if (!token || token->isEmpty())
        return std::nullopt;
    const QByteArray digest = QCryptographicHash::hash(token->toUtf8(), QCryptographicHash::Sha256);
    if (seen.contains(digest))
        throw DecodingError::malformed(record, u"nextPageToken repeats an earlier page"_s);
    seen.insert(digest);
    return token;
}

// A page of a list answer: the items under `key`, each read by decodeItem, and the next token.
template<typename DecodeItem>
DriveListingPage decodePage(const QByteArray &body, QSet<QByteArray> &seen,
                            QLatin1StringView record, QLatin1StringView key, DecodeItem decodeItem)
{
    const JsonReader reader(JsonReader::parseObject(body, record), record);
    const QJsonValue list = reader.requiredValue(key);
    if (!list.isArray())
        throw reader.wrongType(key, "an array"_L1);
    DriveListingPage page;
    const QJsonArray array = list.toArray();
    page.items.reserve(array.size());
    for (const QJsonValue &item : array)
        page.items.append(decodeItem(item));
    page.nextPageToken = nextToken(reader, seen, record);
    return page;
}

DriveListingPage decodeFilePage(const QByteArray &body, QSet<QByteArray> &seen)
{
    return decodePage(body, seen, "FileList"_L1, "files"_L1, [](const QJsonValue &file) {
        return DriveFile::fromJson(JsonReader::asObject(file, "DriveFile"_L1));
    });
}

DriveListingPage decodeDrivePage(const QByteArray &body, QSet<QByteArray> &seen)
{
    return decodePage(body, seen, "DriveList"_L1, "drives"_L1, [](const QJsonValue &drive) {
        const JsonReader entry(JsonReader::asObject(drive, "Drive"_L1), "Drive"_L1);
        return DriveFile(entry.requiredString("id"_L1), entry.requiredString("name"_L1),
                         QString(DriveFile::folderMimeType));
    });
}

} // namespace

QString DriveClient::listingTooLongMessage()
{
    return u"Google Drive trả về một danh sách dài bất thường, không có điểm dừng, nên Tarnwick "
           u"đã dừng đọc thư mục này. Hãy thử lại sau."_s;
}

QCoro::Task<DriveClient::Account> DriveClient::account(std::stop_token stop) const
{
    HttpRequest request =
        apiRequest("GET", u"/drive/v3/about"_s,
                   {{u"fields"_s, u"user(displayName,emailAddress),storageQuota(limit,usage)"_s}});
    const QList<int> accepted = defaultAccepted();
    const HttpResponse response = co_await retrying(std::move(request), accepted, stop);
    co_return Account::fromJsonBytes(response.body);
}

QCoro::Task<QList<DriveFile>> DriveClient::list(QString parent, bool sharedWithMe,
                                                std::stop_token stop) const
{
    const QString q =
        sharedWithMe ? u"sharedWithMe = true and trashed = false"_s
                     : u"'"_s + escapeQueryLiteral(parent) + u"' in parents and trashed = false"_s;
    const Query fixed{{u"q"_s, q},
                      {u"fields"_s, listFields},
                      {u"pageSize"_s, u"1000"_s},
                      {u"orderBy"_s, u"folder,name_natural"_s},
                      {u"supportsAllDrives"_s, u"true"_s},
                      {u"includeItemsFromAllDrives"_s, u"true"_s}};
    auto reading = allPages(u"/drive/v3/files"_s, fixed, &decodeFilePage, stop);
    co_return co_await reading;
}

QCoro::Task<QList<DriveFile>> DriveClient::sharedDrives(std::stop_token stop) const
{
    const Query fixed{{u"pageSize"_s, u"100"_s}, {u"fields"_s, u"nextPageToken,drives(id,name)"_s}};
    auto reading = allPages(u"/drive/v3/drives"_s, fixed, &decodeDrivePage, stop);
    co_return co_await reading;
}

QCoro::Task<QList<DriveFile>> DriveClient::allPages(QString path, Query fixed, PageDecoder decode,
                                                    std::stop_token stop) const
{
    QList<DriveFile> result;
    QSet<QByteArray> seen;
    std::optional<QString> pageToken;
    qsizetype pages = 0;
    do {
        if (++pages > m_listingLimits.pages)
            throw TarnwickError(listingTooLongMessage());
        Query query = fixed;
        if (pageToken)
            query.append({u"pageToken"_s, *pageToken});
        HttpRequest request = apiRequest("GET", path, query);
        const QList<int> accepted = defaultAccepted();
        const HttpResponse response = co_await retrying(std::move(request), accepted, stop);
        DriveListingPage page = decode(response.body, seen);
        if (page.items.size() > m_listingLimits.items - result.size())
            throw TarnwickError(listingTooLongMessage());
        result.append(std::move(page.items));
        pageToken = std::move(page.nextPageToken);
    } while (pageToken);
    co_return result;
}

QCoro::Task<DriveFile> DriveClient::file(QString id, std::stop_token stop) const
{
    checkItemID(id);
    HttpRequest request = apiRequest(
        "GET", filePath(id), {{u"supportsAllDrives"_s, u"true"_s}, {u"fields"_s, itemFields}});
    const QList<int> accepted = defaultAccepted();
    const HttpResponse response = co_await retrying(std::move(request), accepted, stop);
    co_return DriveFile::fromJsonBytes(response.body);
}

QCoro::Task<DriveFile> DriveClient::createFolder(QString name, QString parent,
                                                 std::stop_token stop, QString id) const
{
    const QString trimmed = DriveNames::validateName(name);
    QJsonObject body{{"name"_L1, trimmed},
                     {"mimeType"_L1, QString(DriveFile::folderMimeType)},
                     {"parents"_L1, QJsonArray{parent}}};
    if (!id.isEmpty()) {
        checkItemID(id);
        body.insert("id"_L1, id);
    }
    HttpRequest request =
        jsonRequest("POST", u"/drive/v3/files"_s,
                    {{u"supportsAllDrives"_s, u"true"_s}, {u"fields"_s, itemFields}}, body);
    const QList<int> accepted = defaultAccepted();
    std::optional<DriveAPIError> conflict;
    try {
        // Only a create with a reserved ID may be sent twice: a repeat is told the ID is taken.
        auto sending = id.isEmpty() ? authorized(std::move(request), accepted, stop)
                                    : retrying(std::move(request), accepted, stop);
        const HttpResponse response = co_await sending;
        co_return DriveFile::fromJsonBytes(response.body);
    } catch (const DriveAPIError &e) {
        // Taken: an earlier attempt with this ID got through, only its answer never came.
        if (id.isEmpty() || e.status() != 409)
            throw;
        conflict = e;
    }
    co_return co_await itemOfTakenID(*conflict, id, parent, true, 0, stop);
}

QCoro::Task<QStringList> DriveClient::generateIds(int count, std::stop_token stop) const
{
    if (count < 1 || count > 1000)
        throw TarnwickError(u"Số mã cần tạo phải từ 1 đến 1000."_s);
    HttpRequest request = apiRequest(
        "GET", u"/drive/v3/files/generateIds"_s,
        {{u"count"_s, QString::number(count)}, {u"space"_s, u"drive"_s}, {u"fields"_s, u"ids"_s}});
    const QList<int> accepted = defaultAccepted();
    const HttpResponse response = co_await retrying(std::move(request), accepted, stop);
    const JsonReader reader(JsonReader::parseObject(response.body, "GeneratedIds"_L1),
                            "GeneratedIds"_L1);
    const QJsonValue list = reader.requiredValue("ids"_L1);
    if (!list.isArray())
        throw reader.wrongType("ids"_L1, "an array"_L1);
    QStringList ids;
    for (const QJsonValue &value : list.toArray()) {
        if (!value.isString())
            throw reader.wrongType("ids"_L1, "an array of strings"_L1);
        checkItemID(value.toString());
        ids.append(value.toString());
    }
    if (ids.size() != count)
        throw DecodingError::malformed("GeneratedIds"_L1,
                                       u"%1 IDs instead of %2"_s.arg(ids.size()).arg(count));
    co_return ids;
}

QCoro::Task<DriveFile> DriveClient::itemOfTakenID(DriveAPIError conflict, QString id,
                                                  QString parent, bool folder, qint64 size,
                                                  std::stop_token stop) const
{
    HttpRequest request =
        apiRequest("GET", filePath(id),
                   {{u"supportsAllDrives"_s, u"true"_s},
                    {u"fields"_s, itemFields + u",parents,trashed"_s}});
    const QList<int> accepted = defaultAccepted();
    HttpResponse response;
    try {
        response = co_await retrying(std::move(request), accepted, stop);
    } catch (const DriveAPIError &e) {
        // Only a passing failure is worth another try; otherwise the item is not ours to see.
        if (e.retryable())
            throw;
        throw conflict;
    }
    const DriveFile item = DriveFile::fromJsonBytes(response.body);
    const JsonReader reader(JsonReader::parseObject(response.body, "DriveFile"_L1),
                            "DriveFile"_L1);
    QStringList parents;
    if (const auto list = reader.optionalValue("parents"_L1)) {
        if (!list->isArray())
            throw reader.wrongType("parents"_L1, "an array"_L1);
        for (const QJsonValue &value : list->toArray())
            parents.append(value.toString());
    }
    if (reader.optionalBool("trashed"_L1).value_or(false) || item.id != id ||
        item.isFolder() != folder || (!folder && item.bytes() != size))
        throw conflict;
    if (!parents.contains(parent)) {
        // "root" is an alias: compare with the ID it stands for.
        if (parent != "root"_L1 || parents.isEmpty())
            throw conflict;
        const DriveFile root = co_await file(parent, stop);
        if (!parents.contains(root.id))
            throw conflict;
    }
    co_return item;
}

QCoro::Task<> DriveClient::rename(DriveFile file, QString name, std::stop_token stop) const
{
    checkItemID(file.id);
    const QString trimmed = DriveNames::validateName(name);
    HttpRequest request =
        jsonRequest("PATCH", filePath(file.id), {{u"supportsAllDrives"_s, u"true"_s}},
                    QJsonObject{{"name"_L1, trimmed}});
    const QList<int> accepted = defaultAccepted();
    co_await authorized(std::move(request), accepted, stop);
}

QCoro::Task<> DriveClient::trash(DriveFile file, std::stop_token stop) const
{
    checkItemID(file.id);
    HttpRequest request =
        jsonRequest("PATCH", filePath(file.id), {{u"supportsAllDrives"_s, u"true"_s}},
                    QJsonObject{{"trashed"_L1, true}});
    const QList<int> accepted = defaultAccepted();
    co_await authorized(std::move(request), accepted, stop);
}

QCoro::Task<> DriveClient::deletePermanently(DriveFile file, std::stop_token stop) const
{
    checkItemID(file.id);
    HttpRequest request =
        apiRequest("DELETE", filePath(file.id), {{u"supportsAllDrives"_s, u"true"_s}});
    const QList<int> accepted = QList<int>{200, 204};
    co_await authorized(std::move(request), accepted, stop);
}

QList<DriveFile> DriveClient::readFilePage(const QByteArray &body, QSet<QByteArray> &seen,
                                           std::optional<QString> &next)
{
    DriveListingPage page = decodeFilePage(body, seen);
    next = std::move(page.nextPageToken);
    return std::move(page.items);
}

QList<DriveFile> DriveClient::readDrivePage(const QByteArray &body, QSet<QByteArray> &seen,
                                            std::optional<QString> &next)
{
    DriveListingPage page = decodeDrivePage(body, seen);
    next = std::move(page.nextPageToken);
    return std::move(page.items);
}

} // namespace Tarnwick
