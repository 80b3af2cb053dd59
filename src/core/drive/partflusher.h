#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <span>

// The last step of a download: the complete part file is made durable, then renamed over its
// destination. Finished files of every download are written as they come (those still in memory)
// and started on their way to the disk; one thread takes what is written in groups, flushes a
// group's files side by side and renames only those whose flush succeeded. A file never gets its
// name before its bytes are on the disk; a crash leaves the whole file or its part file.
namespace Tarnwick::PartFlusher {

struct Finished
{
    QString part;        // the complete part file, beside its destination
    QString destination; // replaced if it exists
    // The part file's stamp. A file still in memory gets a part file without one, stamped only
    // when it stays behind, so that the next try finds it complete.
    QString stamp;
    std::optional<QByteArray> bytes; // the whole file when it is still in memory
    // Set by placeGroup() when the file is not in place.
    std::exception_ptr failure;
    // Used by placeGroup(): the part file and its folder.
    int fd = -1;
    int folder = -1;
};

// Makes one file's bytes durable (fdatasync): 0 or an errno. Tests put in one that fails.
using Flush = std::function<int(int fd)>;
int systemFlush(int fd);

// Worker thread: puts each file of the group in place, or leaves its part file and sets its
// `failure`. A file whose flush failed keeps its part file under the part name.
void placeGroup(std::span<Finished *const> group, const Flush &flush = systemFlush);

// Hands the file to the flusher thread; resumes on the main thread once it is in place, or throws
// why it is not.
QCoro::Task<> place(Finished file);

} // namespace Tarnwick::PartFlusher
