#include "state/contentblob.h"

#include "state/generatedcontent.h"

#include <QCryptographicHash>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace Tarnwick::Emulator {

std::shared_ptr<const ContentBlob> ContentBlob::stored(QString path, qint64 size, bool owned)
{
    return std::make_shared<const ContentBlob>(Kind::Stored, std::move(path), size, 0, owned);
}

std::shared_ptr<const ContentBlob> ContentBlob::generated(quint64 seed, qint64 size)
{
    return std::make_shared<const ContentBlob>(Kind::Generated, QString(), size, seed, false);
}

ContentBlob::ContentBlob(Kind kind, QString path, qint64 size, quint64 seed, bool owned)
    : m_kind(kind)
    , m_path(std::move(path))
    , m_size(size)
    , m_seed(seed)
    , m_owned(owned)
{
}

ContentBlob::~ContentBlob()
{
    if (m_owned && m_discarded && !m_path.isEmpty())
        QFile::remove(m_path);
}

template<typename Hash> qint64 ContentBlob::feed(Hash &&add) const
{
    BlobReader reader(
        std::shared_ptr<const ContentBlob>(std::shared_ptr<const ContentBlob>{}, this));
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 offset = 0;
    while (offset < m_size) {
        const qint64 n =
            reader.read(offset, buffer.data(), qMin<qint64>(buffer.size(), m_size - offset));
        if (n <= 0)
            break;
        add(QByteArrayView(buffer.constData(), n));
        offset += n;
    }
    return offset;
}

QString ContentBlob::cachedDigest(QCryptographicHash::Algorithm algorithm, QString &cache) const
{
    std::lock_guard lock(m_md5Mutex);
    if (cache.isEmpty()) {
        QCryptographicHash hash(algorithm);
        // A read that fell short gives no digest rather than one of a prefix, kept for good.
        if (feed([&](QByteArrayView bytes) { hash.addData(bytes); }) != m_size)
            return {};
        cache = QString::fromLatin1(hash.result().toHex());
    }
    return cache;
}

QString ContentBlob::md5Hex() const
{
    return cachedDigest(QCryptographicHash::Md5, m_md5);
}

QString ContentBlob::sha256Hex() const
{
    return cachedDigest(QCryptographicHash::Sha256, m_sha256);
}

void ContentBlob::presetMd5(const QString &hex) const
{
    std::lock_guard lock(m_md5Mutex);
    m_md5 = hex;
}

bool ContentBlob::md5Known() const
{
    std::lock_guard lock(m_md5Mutex);
    return !m_md5.isEmpty();
}

QByteArray ContentBlob::readAll() const
{
    QByteArray out;
    out.reserve(m_size);
    feed([&](QByteArrayView bytes) { out.append(bytes); });
    return out;
}

BlobReader::BlobReader(Blob blob)
    : m_blob(std::move(blob))
{
    if (m_blob && m_blob->kind() == ContentBlob::Kind::Stored)
        m_fd = ::open(QFile::encodeName(m_blob->path()).constData(), O_RDONLY | O_CLOEXEC);
}

BlobReader::~BlobReader()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool BlobReader::isOpen() const
{
    return m_blob && (m_blob->kind() == ContentBlob::Kind::Generated || m_fd >= 0);
}

qint64 BlobReader::read(qint64 offset, char *out, qint64 length)
{
    if (!m_blob)
        return -1;
    length = qMin(length, m_blob->size() - offset);
    if (length <= 0)
        return 0;
    if (m_blob->kind() == ContentBlob::Kind::Generated) {
        GeneratedContent::fill(m_blob->seed(), offset, out, length);
        return length;
    }
    if (m_fd < 0)
        return -1;
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::pread(m_fd, out + done, size_t(length - done), offset + done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace Tarnwick::Emulator
