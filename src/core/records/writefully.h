#pragma once

#include <QtGlobal>

namespace Tarnwick {

// Writes all `size` bytes of data to fd, going on after interrupted calls. Returns 0 when done,
// else the errno of the failure (ENOSPC when the file system took nothing).
int writeFully(int fd, const char *data, qint64 size);

} // namespace Tarnwick
