#pragma once

#include "records/uploadsession.h"

#include <QHash>
#include <QSet>
#include <QString>

namespace Tarnwick {

// What an upload transfer has already done on Drive, keyed by local path, so that a resumed or
// retried run neither creates a folder twice nor sends a finished file again.
struct UploadCheckpoint
{
    QHash<QString, QString> folders;        // local folder → the Drive folder made for it
    QSet<QString> finished;                 // local files Drive has whole
    QHash<QString, UploadSession> sessions; // local file → its open resumable session

    bool operator==(const UploadCheckpoint &) const = default;
    bool isEmpty() const { return folders.isEmpty() && finished.isEmpty() && sessions.isEmpty(); }
};

} // namespace Tarnwick
