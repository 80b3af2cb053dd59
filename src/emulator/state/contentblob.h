#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

namespace Tarnwick::Emulator {

// The immutable bytes of one file version: a file on disk or generated contents. Shared by the
// item and every download streaming it, so replacing or deleting an item never cuts a download.
class ContentBlob final
{
public:
    enum class Kind { Stored, Generated };

    // owned: the file belongs to the content store and is removed once discarded and released.
    static std::shared_ptr<const ContentBlob> stored(QString path, qint64 size, bool owned);
    static std::shared_ptr<const ContentBlob> generated(quint64 seed, qint64 size);

    ContentBlob(Kind kind, QString path, qint64 size, quint64 seed, bool owned);
    ~ContentBlob();
    ContentBlob(const ContentBlob &) = delete;
    ContentBlob &operator=(const ContentBlob &) = delete;

    Kind kind() const { return m_kind; }
    qint64 size() const { return m_size; }
    const QString &path() const { return m_path; }
    quint64 seed() const { return m_seed; }
    bool owned() const { return m_owned; }

    // Hex digests, computed on first use and cached.
    QString md5Hex() const;
    QString sha256Hex() const;
    // Known md5 (from a seed or persisted state), so it need not be computed again.
    void presetMd5(const QString &hex) const;
    bool md5Known() const;

    // The item no longer uses this blob: its file goes when the last reader lets go.
    void discard() const { m_discarded = true; }

    QByteArray readAll() const;

private:
    // Feeds the bytes in order; returns how many were read (fewer than size() after an error).
    template<typename Hash> qint64 feed(Hash &&add) const;
    // The digest held in cache, computed into it first when empty.
    QString cachedDigest(QCryptographicHash::Algorithm algorithm, QString &cache) const;

    const Kind m_kind;
    const QString m_path;
    const qint64 m_size;
    const quint64 m_seed;
    const bool m_owned;
    mutable std::atomic<bool> m_discarded{false};
    mutable std::mutex m_md5Mutex;
    mutable QString m_md5;
    mutable QString m_sha256;
};

using Blob = std::shared_ptr<const ContentBlob>;

// Reads one blob from arbitrary offsets; keeps the file open for the life of the reader.
class BlobReader final
{
public:
    explicit BlobReader(Blob blob);
    ~BlobReader();
    BlobReader(const BlobReader &) = delete;
    BlobReader &operator=(const BlobReader &) = delete;

    bool isOpen() const;
    // Fills out with up to length bytes from offset; returns the count, or -1 on a read error.
    qint64 read(qint64 offset, char *out, qint64 length);

private:
    Blob m_blob;
    int m_fd = -1;
};

} // namespace Tarnwick::Emulator
