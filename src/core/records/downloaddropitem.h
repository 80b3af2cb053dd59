#pragma once

#include "drive/drivefile.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace Tarnwick {

// What one item dropped on the local pane carried; a record read from a drop has exactly one
// field present.
struct DownloadDropItem
{
    std::optional<DriveFile> driveFile; // a Drive row dragged from this program
    std::optional<QUrl> url;            // a web link (such as a Drive link) or a file URL
    std::optional<QString> text;        // plain text, perhaps holding a link

    DownloadDropItem() = default;
    DownloadDropItem(std::optional<DriveFile> driveFile, std::optional<QUrl> url,
                     std::optional<QString> text)
        : driveFile(std::move(driveFile))
        , url(std::move(url))
        , text(std::move(text))
    {
    }

    bool operator==(const DownloadDropItem &) const = default;
};

} // namespace Tarnwick
