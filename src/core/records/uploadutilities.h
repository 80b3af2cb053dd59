#pragma once

#include <QString>

#include <optional>

namespace Tarnwick::UploadUtilities {

// The number of bytes Google holds from the Range header ("bytes=0-N") of a resumable-upload
// status answer; 0 when there is none. Throws TarnwickError unless 0 <= N < total.
qint64 confirmedOffset(const std::optional<QString> &range, qint64 total);

} // namespace Tarnwick::UploadUtilities
