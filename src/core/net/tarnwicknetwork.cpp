#include "net/tarnwicknetwork.h"

#include "net/httpengine.h"

#include <QCoreApplication>

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

} // namespace Tarnwick::TarnwickNetwork
