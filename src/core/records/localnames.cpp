#include "records/localnames.h"

#include "records/errors.h"
#include "records/sortoption.h"

#include <QFile>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace Tarnwick::LocalNames {

namespace {

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString withoutLoneSurrogates(const QString &text)
{
    QString out = text;
    for (qsizetype at = 0; at < out.size(); ++at) {
        const QChar c = out.at(at);
        if (c.isHighSurrogate() && at + 1 < out.size() && out.at(at + 1).isLowSurrogate())
            ++at;
        else if (c.isSurrogate())
            out[at] = QChar::ReplacementCharacter;
    }
    return out;
}

// Splits a file name into stem and extension (without the dot). A name whose only dots lead
// (".bashrc") or end it ("notes.") has no extension.
std::pair<QString, QString> splitExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return {name, QString()};
    const QString stem = name.left(dot);
    if (std::all_of(stem.cbegin(), stem.cend(), [](QChar c) { return c == u'.'; }))
        return {name, QString()};
    return {stem, name.mid(dot + 1)};
}

// The longest a file name may be on Linux file systems is 255 bytes, and the part file a download
// is written to adds "." before the name and ".tarnwick-part" after it.
constexpr qsizetype nameByteLimit = 255 - 1 - 14;

// Below this many bytes left for the stem, an extension is not worth keeping whole.
constexpr qsizetype shortestStem = 32;

qsizetype utf8Size(QStringView text)
{
    return text.toUtf8().size();
}

// The longest start of text that takes at most budget bytes in UTF-8, cut between whole
// characters: between graphemes when one fits (a letter keeps its accents), otherwise between
// code points. Never splits a UTF-8 sequence or a surrogate pair.
QString shortened(const QString &text, qsizetype budget)
{
    if (utf8Size(text) <= budget)
        return text;
    // A character takes at least one byte per UTF-16 unit, so the cut lies in the first budget
    // units; the extra ones let the boundary finder see past it.
    const QString head = text.left(budget + 2);
    qsizetype cut = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, head);
    for (qsizetype at = graphemes.toNextBoundary();
         at > 0 && utf8Size(QStringView(head).left(at)) <= budget; at = graphemes.toNextBoundary()) {
        // Qt's finder reports a boundary inside every pair after some unassigned characters.
        if (!(head.at(at - 1).isHighSurrogate() && at < head.size() && head.at(at).isLowSurrogate()))
            cut = at;
    }
    if (cut == 0) {
        for (qsizetype at = 0; at < head.size();) {
            const bool pair = head.at(at).isHighSurrogate() && at + 1 < head.size() &&
                              head.at(at + 1).isLowSurrogate();
            const qsizetype next = at + (pair ? 2 : 1);
            if (utf8Size(QStringView(head).left(next)) > budget)
                break;
            cut = at = next;
        }
    }
    return head.left(cut);
}

} // namespace

bool pathExists(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

QString availableDestination(const QString &name, const QString &folder, QSet<QString> &reserved,
                             const std::function<bool(const QString &)> &exists)
{
    // Measured as the file system gets it: the path reaches it through QFile::encodeName, which
    // writes a lone surrogate (JSON keeps them) as U+FFFD in 3 bytes.
    QString clean = withoutLoneSurrogates(name);
    clean.replace(u'/', u'-').replace(u':', u'-').remove(QChar(0));
    clean = clean.trimmed();
    if (clean.isEmpty() || clean == "."_L1 || clean == ".."_L1)
        clean = u"file"_s;

    // Named, not bound: clang 14 cannot capture structured bindings in a lambda.
    const std::pair<QString, QString> split = splitExtension(clean);
    const QString &stem = split.first;
    const QString &extension = split.second;
    const auto taken = [&](const QString &candidate) {
        const QString path = joinPath(folder, candidate);
        return reserved.contains(candidate) || exists(path) || exists(partPath(path));
    };

    // Too long a name is shortened, the suffix and the extension kept, so that the file and its
    // part file can both be made: otherwise the download could never be written.
    const auto named = [&](const QString &suffix) {
        const QString tail = extension.isEmpty() ? suffix : suffix + u'.' + extension;
        const qsizetype tailBytes = utf8Size(tail);
        if (tailBytes + shortestStem <= nameByteLimit)
            return shortened(stem, nameByteLimit - tailBytes) + tail;
        return shortened(clean, nameByteLimit - utf8Size(suffix)) + suffix;
    };

    QString candidate = named(QString());
    for (qint64 counter = 2; taken(candidate); ++counter)
        candidate = named(u' ' + QString::number(counter));
    reserved.insert(candidate);
    return joinPath(folder, candidate);
}

QString partPath(const QString &destination)
{
    QString path = destination;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = slash < 0 ? QString() : path.left(slash + 1);
    return folder + u'.' + path.mid(slash + 1) + ".tarnwick-part"_L1;
}

QStringList children(const QString &folder)
{
    const QByteArray encodedFolder = QFile::encodeName(folder);
    const int fd = ::open(encodedFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError::fromErrno(errno);
    // fdopendir takes the descriptor over; closedir closes both.
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(fd), ::closedir);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        throw SystemError::fromErrno(error);
    }

    QStringList names;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir.get());
        if (!entry) {
            if (errno != 0)
                throw SystemError::fromErrno(errno);
            break;
        }
        if (entry->d_name[0] == '.') // hidden, and "." and ".."
            continue;
        struct stat info;
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
            throw SystemError::fromErrno(errno);
        if (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
            names.append(QFile::decodeName(entry->d_name));
    }

    const NameCollator &collator = NameCollator::forThisThread();
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) {
        const int order = collator.compare(a, b);
        return order != 0 ? order < 0 : a < b;
    });
    QStringList paths;
    paths.reserve(names.size());
    for (const QString &name : std::as_const(names))
        paths.append(joinPath(folder, name));
    return paths;
}

} // namespace Tarnwick::LocalNames
