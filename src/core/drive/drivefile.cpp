#include "drive/drivefile.h"

#include "records/decimalinteger.h"
#include "drive/internetdate.h"
#include "drive/jsonreader.h"

#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

void insertIfPresent(QJsonObject &object, QLatin1StringView key, const std::optional<QString> &v)
{
    if (v)
        object.insert(key, *v);
}

void insertIfPresent(QJsonObject &object, QLatin1StringView key, const std::optional<bool> &v)
{
    if (v)
        object.insert(key, *v);
}

// Hash of an optional that keeps "missing" apart from every present value.
template<class T> size_t hashOptional(const std::optional<T> &value, size_t seed)
{
    return value ? qHashMulti(seed, true, *value) : qHashMulti(seed, false);
}

} // namespace

QJsonObject DriveFile::Capabilities::toJson() const
{
    QJsonObject object;
    insertIfPresent(object, "canAddChildren"_L1, canAddChildren);
    insertIfPresent(object, "canEdit"_L1, canEdit);
    insertIfPresent(object, "canTrash"_L1, canTrash);
    insertIfPresent(object, "canDownload"_L1, canDownload);
    return object;
}

DriveFile::Capabilities DriveFile::Capabilities::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "DriveFile.Capabilities"_L1);
    Capabilities result;
    result.canAddChildren = reader.optionalBool("canAddChildren"_L1);
    result.canEdit = reader.optionalBool("canEdit"_L1);
    result.canTrash = reader.optionalBool("canTrash"_L1);
    result.canDownload = reader.optionalBool("canDownload"_L1);
    return result;
}

bool DriveFile::isFolder() const
{
    return mimeType == folderMimeType;
}

bool DriveFile::isGoogleDocument() const
{
    return mimeType && mimeType->startsWith("application/vnd.google-apps."_L1) && !isFolder();
}

qint64 DriveFile::bytes() const
{
    return size ? parseDecimalInt64(*size).value_or(0) : 0;
}

QDateTime DriveFile::modifiedDate() const
{
    if (modifiedTime) {
        if (auto date = InternetDate::parse(*modifiedTime))
            return *date;
    }
    return InternetDate::distantPast();
}

QJsonObject DriveFile::toJson() const
{
    QJsonObject object{{"id"_L1, id}, {"name"_L1, name}};
    insertIfPresent(object, "mimeType"_L1, mimeType);
    insertIfPresent(object, "size"_L1, size);
    insertIfPresent(object, "modifiedTime"_L1, modifiedTime);
    insertIfPresent(object, "webViewLink"_L1, webViewLink);
    insertIfPresent(object, "thumbnailLink"_L1, thumbnailLink);
    if (capabilities)
        object.insert("capabilities"_L1, capabilities->toJson());
    return object;
}

QByteArray DriveFile::toJsonBytes() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

DriveFile DriveFile::fromJson(const QJsonObject &object)
{
    const JsonReader reader(object, "DriveFile"_L1);
    DriveFile file(reader.requiredString("id"_L1), reader.requiredString("name"_L1),
                   reader.optionalString("mimeType"_L1));
    file.size = reader.optionalString("size"_L1);
    file.modifiedTime = reader.optionalString("modifiedTime"_L1);
    file.webViewLink = reader.optionalString("webViewLink"_L1);
    file.thumbnailLink = reader.optionalString("thumbnailLink"_L1);
    if (const auto value = reader.optionalValue("capabilities"_L1)) {
        if (!value->isObject())
            throw reader.wrongType("capabilities"_L1, "an object"_L1);
        file.capabilities = Capabilities::fromJson(value->toObject());
    }
    return file;
}

DriveFile DriveFile::fromJsonBytes(const QByteArray &bytes)
{
    return fromJson(JsonReader::parseObject(bytes, "DriveFile"_L1));
}

size_t qHash(const DriveFile::Capabilities &c, size_t seed)
{
    seed = hashOptional(c.canAddChildren, seed);
    seed = hashOptional(c.canEdit, seed);
    seed = hashOptional(c.canTrash, seed);
    return hashOptional(c.canDownload, seed);
}

size_t qHash(const DriveFile &f, size_t seed)
{
    seed = qHashMulti(seed, f.id, f.name);
    for (const auto *field :
         {&f.mimeType, &f.size, &f.modifiedTime, &f.webViewLink, &f.thumbnailLink})
        seed = hashOptional(*field, seed);
    return f.capabilities ? qHash(*f.capabilities, qHashMulti(seed, true)) : qHashMulti(seed, false);
}

} // namespace Tarnwick
