#include "auth/keychainlock.h"

#include "async/async.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace Tarnwick::KeychainLock {

namespace {
// A hung service must not hold a sign-in for D-Bus's default 25 seconds.
constexpr int callTimeoutMs = 5000;
} // namespace

QCoro::Task<bool> defaultCollectionLocked()
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        u"org.freedesktop.secrets"_s, u"/org/freedesktop/secrets/aliases/default"_s,
        u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    message << u"org.freedesktop.Secret.Collection"_s << u"Locked"_s;
    QDBusPendingCallWatcher watcher(
        QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs));
    Wakeup wakeup({});
    wakeup.on(&watcher, &QDBusPendingCallWatcher::finished);
    if (!watcher.isFinished())
        co_await wakeup;
    const QDBusPendingReply<QDBusVariant> reply = watcher;
    co_return !reply.isError() && reply.value().variant().toBool();
}

} // namespace Tarnwick::KeychainLock
