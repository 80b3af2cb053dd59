// What every benchmark program shares, with or without the model: failing with a line, running
// until a signal, its CPU time, and the bystander's probe mode.
#pragma once

#include "latenessprobe.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace Tarnwick::Bench {

[[noreturn]] inline void fail(const QString &why)
{
    std::fprintf(stderr, "%s: %s\n",
                 qPrintable(QFileInfo(QCoreApplication::applicationFilePath()).fileName()),
                 qPrintable(why));
    std::exit(1);
}

// Runs the event loop until SIGINT or SIGTERM.
inline int runUntilSignal()
{
    static int signalPipe[2] = {-1, -1};
    if (::pipe(signalPipe) == 0) {
        std::signal(SIGINT, [](int) { (void)::write(signalPipe[1], "x", 1); });
        std::signal(SIGTERM, [](int) { (void)::write(signalPipe[1], "x", 1); });
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier,
                     [] { QCoreApplication::quit(); });
    return QCoreApplication::exec();
}

inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A process of its own with nothing but the timer, until a signal (the programs' "probe" mode):
// what the machine's load costs any program.
inline int runProbe()
{
    const double waitBefore = runqueueWaitMs();
    LatenessProbe probe;
    runUntilSignal();
    std::printf("RESULT lateness_p99_ms=%.2f lateness_max_ms=%.2f late_ticks=%ld "
                "runqueue_wait_ms=%.1f\n",
                probe.percentileMs(0.99), probe.maxMs(), probe.lateTicks(),
                runqueueWaitMs() - waitBefore);
    return 0;
}

} // namespace Tarnwick::Bench
