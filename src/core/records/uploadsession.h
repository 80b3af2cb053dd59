#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QUrl>

namespace Tarnwick {

// A resumable-upload session Google opened for one local file, with the file's size and
// modification date at that moment: the session only applies while both are unchanged.
//
// JSON: {"url": absolute URL string, "size": integer, "modified": "2024-05-01T08:30:15.123Z"}.
// The date is stored in UTC with milliseconds, the precision local modification dates are read
// with, so a stored session compares equal to a fresh reading of an unchanged file. Decoding also
// accepts a number of seconds since 2001-01-01T00:00:00Z (less than 1e12 either way) for the date,
// and encoding writes one for a date outside the years 1 to 9999.
struct UploadSession
{
    QUrl url;
    qint64 size = 0;
    QDateTime modified;

    bool operator==(const UploadSession &other) const;

    QJsonObject toJson() const;
    // Throw DecodingError when a key is missing, of the wrong type, or the url or date does not
    // parse.
    static UploadSession fromJson(const QJsonObject &object);
    static UploadSession fromJsonBytes(const QByteArray &bytes);
};

} // namespace Tarnwick
