#pragma once

#include "records/uploadsession.h"

#include <QHash>
#include <QJsonObject>
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

    // Drive IDs reserved for creates not yet confirmed (local path → ID): a create repeated
    // after a crash or a lost answer reuses its ID, and Drive refuses to make a second item.
    QHash<QString, QString> reserved;

    bool operator==(const UploadCheckpoint &) const = default;
    bool isEmpty() const
    {
        return folders.isEmpty() && finished.isEmpty() && sessions.isEmpty() && reserved.isEmpty();
    }

    // {"folders": {path: id}, "finished": [path], "sessions": {path: session}, "reserved": {path:
    // id}}; "reserved" may be missing when decoding (files written before it existed).
    QJsonObject toJson() const;
    // Throws DecodingError for a missing key or a value of the wrong type.
    static UploadCheckpoint fromJson(const QJsonObject &object);
};

} // namespace Tarnwick
