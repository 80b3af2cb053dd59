#include "common/drivethumbnailcache.h"

#include "net/addresspolicy.h"
#include "net/endpoints.h"
#include "net/httpengine.h"
#include "net/tarnwicknetwork.h"

#include "async/async.h"
#include "async/clock.h"
#include "futureresult.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace Tarnwick {

DriveThumbnailCache::DriveThumbnailCache(HttpEngine *engine, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
{
}

DriveThumbnailCache &DriveThumbnailCache::shared()
{
    static DriveThumbnailCache *cache = new DriveThumbnailCache;
    return *cache;
}

HttpEngine &DriveThumbnailCache::engine() const
{
    return m_engine ? *m_engine : TarnwickNetwork::session();
}

qint64 DriveThumbnailCache::cost(const QPixmap &image)
{
    return qMax<qint64>(1024, qint64(image.width()) * image.height() * qMax(image.depth(), 8) / 8);
}

QPixmap DriveThumbnailCache::image(const QString &link)
{
    const auto found = m_entries.constFind(link);
    if (found == m_entries.constEnd())
        return {};
    m_order.removeOne(link);
    m_order.append(link);
    return found->image;
}

void DriveThumbnailCache::store(const QPixmap &image, const QString &link)
{
    if (image.isNull())
        return;
    // A picture from Drive may claim any size: what is kept never exceeds maxPixels a side.
    const int pixels = std::clamp(std::max(image.width(), image.height()), side, maxPixels);
    QPixmap small(pixels, pixels);
    small.setDevicePixelRatio(qreal(pixels) / side);
    small.fill(Qt::transparent);
    {
        QPainter painter(&small);
        painter.setRenderHints(QPainter::SmoothPixmapTransform | QPainter::Antialiasing);
        const QRectF square(0, 0, side, side);
        QPainterPath corners;
        corners.addRoundedRect(square, cornerRadius, cornerRadius);
        painter.setClipPath(corners);
        painter.drawPixmap(square, image, QRectF(image.rect()));
    }
    if (const auto old = m_entries.constFind(link); old != m_entries.constEnd()) {
        m_cost -= old->cost;
        m_order.removeOne(link);
    }
    const qint64 entryCost = cost(small);
    m_entries.insert(link, Entry{small, entryCost});
    m_order.append(link);
    m_cost += entryCost;
    while (m_order.size() > 1 && (m_order.size() > countLimit || m_cost > costLimit)) {
        const QString oldest = m_order.takeFirst();
        m_cost -= m_entries.take(oldest).cost;
    }
}

QImage DriveThumbnailCache::decode(const QByteArray &body)
{
    QBuffer buffer;
    buffer.setData(body);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maxPixels || size.height() > maxPixels))
        reader.setScaledSize(size.scaled(maxPixels, maxPixels, Qt::KeepAspectRatio));
    return reader.read();
}

void DriveThumbnailCache::clear()
{
    m_entries.clear();
    m_order.clear();
    m_failed.clear();
    m_cost = 0;
}

void DriveThumbnailCache::request(const QString &link)
{
    if (link.isEmpty() || m_entries.contains(link) || m_fetching.contains(link))
        return;
    if (const auto failed = m_failed.constFind(link); failed != m_failed.constEnd()) {
        const qint64 since = failed->msecsTo(Clock::current().now());
        // A clock set back counts as time gone by.
        if (since >= 0 && since < qint64(std::chrono::milliseconds(retryAfter).count()))
            return;
        m_failed.erase(failed);
    }
    // The link comes from Drive's answer: never a fetch to this machine or the local network
    // on its say-so.
    const QUrl url(link, QUrl::StrictMode);
    if (!AddressPolicy::mayFetchLink(url, Endpoints::current())) {
        m_failed.insert(link, Clock::current().now());
        return;
    }
    m_fetching.insert(link);
    detach(fetch(link), {});
}

QCoro::Task<> DriveThumbnailCache::fetch(QString link)
{
    QPointer<DriveThumbnailCache> self(this);
    QImage decoded;
    try {
        HttpRequest request;
        request.url = QUrl(link, QUrl::StrictMode);
        request.publicAddressesOnly = !Endpoints::current().isDriveOrigin(request.url);
        auto sending = engine().send(std::move(request));
        const HttpResponse response = co_await sending;
        if (response.status >= 200 && response.status < 300) {
            // Decoding a picture of any size Drive sends is no work for the window's thread.
            auto decoding =
                resultLater(QtConcurrent::run(&DriveThumbnailCache::decode, response.body));
            decoded = co_await decoding;
        }
    } catch (...) {
        // A thumbnail that cannot be had leaves the symbol; nothing to tell the user.
    }
    if (!self)
        co_return;
    m_fetching.remove(link);
    if (decoded.isNull()) {
        m_failed.insert(link, Clock::current().now());
        co_return;
    }
    store(QPixmap::fromImage(decoded), link);
    emit imageReady(link);
}

} // namespace Tarnwick
