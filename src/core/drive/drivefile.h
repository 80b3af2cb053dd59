#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace Tarnwick {

// One item on Google Drive as the Drive API v3 describes it. Its JSON form (the API's own keys,
// absent optional members omitted) is also the form it is stored and dragged in.
struct DriveFile
{
    // What Drive allows on the item; a missing value means Drive did not say, not false.
    struct Capabilities
    {
        std::optional<bool> canAddChildren;
        std::optional<bool> canEdit;
        std::optional<bool> canTrash;
        std::optional<bool> canDownload;

        bool operator==(const Capabilities &) const = default;

        QJsonObject toJson() const;
        // Throws DecodingError when a member is not a boolean.
        static Capabilities fromJson(const QJsonObject &object);
    };

    static constexpr auto folderMimeType = QLatin1StringView("application/vnd.google-apps.folder");

    QString id;
    QString name;
    std::optional<QString> mimeType;
    std::optional<QString> size;         // decimal byte count, as the API sends it
    std::optional<QString> modifiedTime; // RFC 3339
    std::optional<QString> webViewLink;
    std::optional<QString> thumbnailLink;
    std::optional<Capabilities> capabilities;

    DriveFile() = default;
    // Every other field missing; used to present shared drives as folders.
    DriveFile(QString id, QString name, std::optional<QString> mimeType)
        : id(std::move(id))
        , name(std::move(name))
        , mimeType(std::move(mimeType))
    {
    }

    bool operator==(const DriveFile &) const = default;

    bool isFolder() const;
    // Any Google-native type (Docs, Sheets, forms, shortcuts…) except folders.
    bool isGoogleDocument() const;
    // size as a strict base-10 signed integer; 0 when missing or malformed.
    qint64 bytes() const;
    // modifiedTime as RFC 3339 (zone required); InternetDate::distantPast() when missing or
    // malformed, so such items sort before every dated one.
    QDateTime modifiedDate() const;

    QJsonObject toJson() const;
    QByteArray toJsonBytes() const;
    // Throw DecodingError when id or name is missing or a member has the wrong type.
    static DriveFile fromJson(const QJsonObject &object);
    static DriveFile fromJsonBytes(const QByteArray &bytes);
};

size_t qHash(const DriveFile::Capabilities &capabilities, size_t seed = 0);
size_t qHash(const DriveFile &file, size_t seed = 0);

} // namespace Tarnwick
