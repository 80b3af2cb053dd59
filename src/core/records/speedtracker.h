#pragma once

#include <QDateTime>
#include <QList>
#include <QMutex>

namespace Tarnwick {

// The speed of one transfer run over a sliding window of recent progress reports.
// update() may be called from any thread; one lock makes each update atomic.
class SpeedTracker final
{
public:
    explicit SpeedTracker(double windowSeconds);
    Q_DISABLE_COPY_MOVE(SpeedTracker)

    // Records that `bytes` (cumulative, not a delta) had been moved at `now` and returns the
    // bytes per second across the samples still inside the window; 0 while the window spans
    // 0.05 s or less, or when the count went backwards.
    double update(qint64 bytes, const QDateTime &now);

    double windowSeconds() const { return m_windowSeconds; }

private:
    struct Sample
    {
        qint64 msecs;
        qint64 bytes;
    };

    const double m_windowSeconds;
    QMutex m_lock;
    QList<Sample> m_samples; // oldest first
};

} // namespace Tarnwick
