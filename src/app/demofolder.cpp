// The demo's sample folder, written through directory descriptors that never follow a link.
#include "demofolder.h"

#include "records/writefully.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

using namespace Qt::StringLiterals;

namespace Tarnwick::DemoFolder {

namespace {

// A descriptor closed when it goes out of scope.
class Descriptor final
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    Descriptor(Descriptor &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    {
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

bool warn(const char *what, const QString &name)
{
    qWarning("Demo sample folder: %s %s: %s", what, qPrintable(name), std::strerror(errno));
    return false;
}

// A directory that is ours alone: owned by this user, writable by nobody else.
bool privateDirectory(int fd, const QString &name)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0)
        return warn("cannot inspect", name);
    if (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & (S_IWGRP | S_IWOTH))) {
        qWarning("Demo sample folder: %s is not a folder of this user's own", qPrintable(name));
        return false;
    }
    return true;
}

// Opens (making it when missing) the folder `name` inside `parent`, refusing a link.
Descriptor openFolder(int parent, const QString &name)
{
    const QByteArray encoded = QFile::encodeName(name);
    if (::mkdirat(parent, encoded.constData(), 0700) != 0 && errno != EEXIST) {
        warn("cannot make", name);
        return Descriptor();
    }
    Descriptor dir(
        ::openat(parent, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) {
        warn("cannot open", name);
        return Descriptor();
    }
    if (!privateDirectory(dir.get(), name))
        return Descriptor();
    return dir;
}

// Creates the file with these bytes unless something of that name is already there.
void createFile(int parent, const QString &name, const QByteArray &bytes)
{
    const QByteArray encoded = QFile::encodeName(name);
    Descriptor file(::openat(parent, encoded.constData(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file.valid()) {
        if (errno != EEXIST)
            warn("cannot create", name);
        return;
    }
    if (writeFully(file.get(), bytes.constData(), bytes.size()) != 0)
        warn("cannot write", name);
}

QByteArray beachPicture()
{
    QImage image(640, 400, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 400);
    sky.setColorAt(0, QColor(80, 170, 230));
    sky.setColorAt(1, QColor(240, 220, 170));
    painter.fillRect(image.rect(), sky);
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

} // namespace

std::optional<QString> prepare(const QString &base)
{
    if (!QDir().mkpath(base))
        return std::nullopt;
    Descriptor root(::open(QFile::encodeName(base).constData(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!root.valid()) {
        warn("cannot open", base);
        return std::nullopt;
    }
    if (!privateDirectory(root.get(), base))
        return std::nullopt;
    const QString name = u"Thư mục mẫu"_s;
    const Descriptor folder = openFolder(root.get(), name);
    if (!folder.valid())
        return std::nullopt;

    for (const QString &sub : {u"Ảnh chuyến đi"_s, u"Tài liệu"_s, u"Dự án"_s})
        openFolder(folder.get(), sub);
    createFile(folder.get(), u"Ghi chú.txt"_s, "Danh sách việc cần làm\n- Sao lưu ảnh lên Drive\n");
    createFile(folder.get(), u"Báo cáo quý 3.pdf"_s, QByteArray(182'400, 'p'));
    createFile(folder.get(), u"Ngân sách 2024.xlsx"_s, QByteArray(48'213, 'x'));
    createFile(folder.get(), u"Bản trình bày.pptx"_s, QByteArray(2'631'000, 's'));
    createFile(folder.get(), u"nhac-nen.mp3"_s, QByteArray(4'120'000, 'm'));
    createFile(folder.get(), u"README.md"_s, "# Tarnwick demo\n");
    createFile(folder.get(), u"Bãi biển.png"_s, beachPicture());
    return QDir(base).filePath(name);
}

} // namespace Tarnwick::DemoFolder
