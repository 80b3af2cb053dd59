#pragma once

#include "records/drivenames.h"
#include "records/localnames.h"

#include <QString>

#include <optional>

namespace Tarnwick::UploadUtilities {

// The number of bytes Google holds from the Range header ("bytes=0-N") of a resumable-upload
// status answer; 0 when there is none. Throws TarnwickError unless 0 <= N < total.
qint64 confirmedOffset(const std::optional<QString> &range, qint64 total);

// The Drive client still spells these by their former namespace.
using DriveNames::validateName;
inline QString partialURL(const QString &destination)
{
    return LocalNames::partPath(destination);
}

} // namespace Tarnwick::UploadUtilities
