#include "records/speedtracker.h"

namespace Tarnwick {

SpeedTracker::SpeedTracker(double windowSeconds)
    : m_windowSeconds(windowSeconds)
{
}

double SpeedTracker::update(qint64 bytes, const QDateTime &now)
{
    const QMutexLocker locker(&m_lock);
    const qint64 nowMsecs = now.toMSecsSinceEpoch();
    m_samples.append({nowMsecs, bytes});
    // Oldest first: the ones out of the window are at the front (thousands of small files make
    // as many samples, so no scan of the whole window).
    while (double(nowMsecs - m_samples.constFirst().msecs) / 1000.0 > m_windowSeconds)
        m_samples.removeFirst();

    const Sample &first = m_samples.constFirst();
    const Sample &last = m_samples.constLast();
    const double elapsed = double(last.msecs - first.msecs) / 1000.0;
    if (elapsed <= 0.05 || last.bytes < first.bytes)
        return 0;
    return double(last.bytes - first.bytes) / elapsed;
}

} // namespace Tarnwick
