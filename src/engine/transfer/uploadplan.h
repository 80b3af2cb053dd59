#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <stop_token>

namespace Tarnwick {

// The local tree of an upload, read once before anything is sent.
struct UploadNode
{
    QString path;                              // absolute
    std::optional<QList<UploadNode>> children; // present for a folder, in the panes' name order
    qint64 bytes = 0;                          // a file's size; a folder's sum

    bool isFolder() const { return children.has_value(); }
    int fileCount() const;

    // Reads the tree at path: hidden entries, symbolic links and special files below the top are
    // left out. Throws TarnwickError for a top item that is a symbolic link or neither file nor
    // folder, SystemError for a folder that cannot be listed, Cancelled once stop is requested.
    // Blocks on the disk: run it off the main thread.
    static UploadNode scan(const QString &path, std::stop_token stop = {});
};

// One file to send and the Drive folder that receives it.
struct UploadItem
{
    QString path;
    QString parent;
    qint64 bytes = 0;
    QString displayPath; // where it lands on Drive, for the queue panel
};

// Every path of the tree, folders before their contents.
void collectPaths(const UploadNode &node, QStringList *folders, QStringList *files);

} // namespace Tarnwick
