#include "async/backgroundcall.h"

#include <QThreadPool>

namespace Tarnwick::Detail {

void startInBackground(std::function<void()> job)
{
    // A pool of our own, so work other layers queue on the global pool cannot hold up a
    // transfer's last step. Never destroyed: a job may still be ending when the process exits.
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(4);
        p->setExpiryTimeout(30000);
        return p;
    }();
    pool->start(std::move(job));
}

} // namespace Tarnwick::Detail
