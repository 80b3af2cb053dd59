// The main-thread measurements the benchmark programs share.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <ctime>
#include <vector>

namespace Tarnwick::Bench {

// CPU time this thread has used.
inline double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// How long this thread has waited, runnable, for a CPU.
inline double runqueueWaitMs()
{
    QFile stat(QStringLiteral("/proc/thread-self/schedstat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = stat.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() / 1e6 : 0;
}

// Lateness of a periodic main-thread timer: how much later than its period each tick arrived,
// and of the ticks over 2 ms late, those in which this thread itself was busy for most of the
// delay (lateness with little CPU is the scheduler's, not ours).
class LatenessProbe final
{
public:
    explicit LatenessProbe(int periodMs = 10)
        : m_period(qint64(periodMs) * 1'000'000)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(periodMs);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            const qint64 late = std::max<qint64>(0, now - m_last - m_period);
            m_late.push_back(late);
            const double cpu = threadCpuMs();
            if (late > lateLimit && (cpu - m_lastCpu) * 1e6 > double(late) / 2)
                ++m_busyLate;
            if (m_late.size() == 1 || late > m_worst) {
                m_worst = late;
                m_worstCpu = cpu - m_lastCpu;
                m_worstAt = now;
            }
            m_lastCpu = cpu;
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    double percentileMs(double p) const
    {
        if (m_late.empty())
            return 0;
        std::vector<qint64> v = m_late;
        const size_t k = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
        std::nth_element(v.begin(), v.begin() + qsizetype(k), v.end());
        return double(v[k]) / 1e6;
    }
    double maxMs() const
    {
        return m_late.empty() ? 0 : double(*std::max_element(m_late.begin(), m_late.end())) / 1e6;
    }
    long lateTicks() const
    {
        return long(std::count_if(m_late.begin(), m_late.end(),
                                  [](qint64 late) { return late > lateLimit; }));
    }
    long busyLateTicks() const { return m_busyLate; }
    // This thread's own CPU time in the tick that came latest: near maxMs() when it was busy
    // itself, near zero when it waited for a CPU or on the kernel.
    double worstTickCpuMs() const { return m_worstCpu; }
    // When that tick came, from the start.
    double worstTickAtMs() const { return double(m_worstAt) / 1e6; }

private:
    static constexpr qint64 lateLimit = 2'000'000;

    qint64 m_period;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_lastCpu = threadCpuMs();
    long m_busyLate = 0;
    qint64 m_worst = 0;
    double m_worstCpu = 0;
    qint64 m_worstAt = 0;
    std::vector<qint64> m_late;
};

} // namespace Tarnwick::Bench
