#include "net/tarnwicknetwork.h"

#include "net/httpengine.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

namespace Tarnwick::TarnwickNetwork {

namespace {
HttpEngine *engine = nullptr;

void stopEngine()
{
    delete engine;
    engine = nullptr;
}
} // namespace

HttpEngine &session()
{
    if (!engine) {
        Q_ASSERT(QCoreApplication::instance());
        engine = new HttpEngine;
        qAddPostRoutine(stopEngine);
    }
    return *engine;
}

void finishPendingWork()
{
    const auto runPosted = [] {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    const QDeadlineTimer deadline(2000);
    runPosted();
    while (engine && engine->hasPendingWork() && !deadline.hasExpired()) {
        QThread::msleep(2);
        runPosted();
    }
    // A finishing coroutine may post again (an outer task resumes its awaiter): a few rounds.
    for (int round = 0; round < 8; ++round)
        runPosted();
}

} // namespace Tarnwick::TarnwickNetwork
