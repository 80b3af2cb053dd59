#include "records/dragpayload.h"

#include "drive/decodingerror.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeData>
#include <QUrl>

namespace Tarnwick::DragPayload {

namespace {

std::optional<QList<DriveFile>> decode(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    try {
        if (document.isObject())
            return QList<DriveFile>{DriveFile::fromJson(document.object())};
        if (document.isArray() && !document.array().isEmpty()) {
            QList<DriveFile> files;
            for (const QJsonValue &value : document.array()) {
                if (!value.isObject())
                    return std::nullopt;
                files.append(DriveFile::fromJson(value.toObject()));
            }
            return files;
        }
    } catch (const DecodingError &) {
        // Some other program's JSON: not a Drive item.
    }
    return std::nullopt;
}

} // namespace

void setDriveFiles(QMimeData &data, const QList<DriveFile> &files)
{
    if (files.isEmpty())
        return;
    QByteArray bytes;
    if (files.size() == 1) {
        bytes = files.constFirst().toJsonBytes();
    } else {
        QJsonArray array;
        for (const DriveFile &file : files)
            array.append(file.toJson());
        bytes = QJsonDocument(array).toJson(QJsonDocument::Compact);
    }
    data.setData(driveFileMimeType, bytes);
    data.setData(jsonMimeType, bytes);
}

void setLocalFiles(QMimeData &data, const QStringList &paths)
{
    QList<QUrl> urls;
    urls.reserve(paths.size());
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
}

QList<DriveFile> driveFiles(const QMimeData &data)
{
    for (QLatin1StringView format : {driveFileMimeType, jsonMimeType}) {
        if (!data.hasFormat(format))
            continue;
        if (auto files = decode(data.data(format)))
            return *files;
    }
    return {};
}

QList<DownloadDropItem> downloadDropItems(const QMimeData &data)
{
    QList<DownloadDropItem> items;
    const QList<DriveFile> files = driveFiles(data);
    if (!files.isEmpty()) {
        for (const DriveFile &file : files)
            items.append(DownloadDropItem(file, std::nullopt, std::nullopt));
        return items;
    }
    if (data.hasUrls()) {
        for (const QUrl &url : data.urls()) {
            if (url.isValid() && !url.isEmpty())
                items.append(DownloadDropItem(std::nullopt, url, std::nullopt));
        }
        if (!items.isEmpty())
            return items;
    }
    if (data.hasText())
        items.append(DownloadDropItem(std::nullopt, std::nullopt, data.text()));
    return items;
}

} // namespace Tarnwick::DragPayload
