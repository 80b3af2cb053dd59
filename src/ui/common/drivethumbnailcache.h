#pragma once

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QString>

#include <QDateTime>

#include <chrono>
#include <functional>

namespace Tarnwick {

class HttpEngine;

// Drive thumbnails of the Drive pane, kept in memory by their link exactly as Drive returned it.
// Each picture is kept at the resolution it was decoded at (stretched to a square of 22 to 256
// pixels a side, corners rounded) with a device pixel ratio that makes it 22 × 22 on screen, so it
// stays sharp on high-density screens. At most 150 entries and 10 MiB, each entry costing the bytes
// of its pixels (at least 1024); Drive's usual 220-pixel thumbnails reach the byte limit first. The
// least recently used entries go first. A link is fetched
// without a token through the shared engine, once while it is fetching or cached; failures leave
// the symbol in place and are not reported, and are asked again only after retryAfter, so a row
// shown again later gets another try while painting never hammers a broken link. Main thread only.
class DriveThumbnailCache final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DriveThumbnailCache)

public:
    // engine is not owned; nullptr means the process-wide session.
    explicit DriveThumbnailCache(HttpEngine *engine = nullptr, QObject *parent = nullptr);
    static DriveThumbnailCache &shared();

    // The cached picture of link (22 × 22 device-independent pixels), marking it recently used;
    // null when not cached.
    QPixmap image(const QString &link);
    // Stores a picture (as a square of its own resolution within side..maxPixels, shown at
    // 22 × 22 with corners of radius 3) under link, evicting the least recently used to stay
    // within the limits.
    void store(const QPixmap &image, const QString &link);
    // Starts fetching link unless it is cached, already fetching, failed less than retryAfter ago,
    // empty or not a valid URL. Only https links to public addresses are fetched, or links on the
    // configured Drive origins (AddressPolicy::mayFetchLink); any other counts as failed.
    void request(const QString &link);

    bool contains(const QString &link) const { return m_entries.contains(link); }
    int count() const { return int(m_entries.size()); }
    qint64 totalCost() const { return m_cost; }
    void clear();

    static constexpr int side = 22;
    static constexpr int maxPixels = 256; // a side; larger pictures are reduced to it
    static constexpr qreal cornerRadius = 3;
    static constexpr int countLimit = 150;
    static constexpr qint64 costLimit = 10 * 1024 * 1024;
    static constexpr std::chrono::seconds retryAfter{60};
    static qint64 cost(const QPixmap &image);
    // Any thread: the picture in an answer's body, reduced while it is decoded so that no side
    // exceeds maxPixels; null when it is no picture.
    static QImage decode(const QByteArray &body);

signals:
    // A fetched picture is now cached under link.
    void imageReady(const QString &link);

private:
    QCoro::Task<> fetch(QString link);
    HttpEngine &engine() const;

    struct Entry
    {
        QPixmap image;
        qint64 cost = 0;
    };
    HttpEngine *m_engine;
    QHash<QString, Entry> m_entries;
    QList<QString> m_order; // least recently used first
    QSet<QString> m_fetching;
    QHash<QString, QDateTime> m_failed; // when each link last failed
    qint64 m_cost = 0;
};

} // namespace Tarnwick
