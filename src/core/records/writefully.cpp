#include "records/writefully.h"

#include <cerrno>
#include <unistd.h>

namespace Tarnwick {

int writeFully(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= n;
    }
    return 0;
}

} // namespace Tarnwick
