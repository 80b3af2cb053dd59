#pragma once

#include "browse/localfile.h"
#include "records/sortoption.h"

#include <QList>
#include <QString>

#include <optional>

namespace Tarnwick {

// One snapshot of a folder's direct children, as the local pane shows them: hidden entries (a
// name starting with ".") and symbolic links are left out, folders carry size 0, and the entries
// are ordered folders first, then by name with the file-browser comparison. Reading runs
// wherever it is called (the model calls it off the main thread) and reports failures as a
// value, so it can travel back through a future.
struct LocalFolderListing
{
    QList<LocalFile> files;
    // The system's description of why the folder could not be read; missing on success.
    std::optional<QString> failure;

    bool operator==(const LocalFolderListing &) const = default;

    // The order of `files`: folders first, then by name.
    static const SortOption order;
    static LocalFolderListing read(const QString &folder);
};

} // namespace Tarnwick
