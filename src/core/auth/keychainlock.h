#pragma once

#include <QCoroTask>

namespace Tarnwick::KeychainLock {

// Whether the Secret Service's default collection (where the keychain items live) is locked.
// False when there is no such service or collection, or when it does not answer within a few
// seconds: then the store's own answer stands.
QCoro::Task<bool> defaultCollectionLocked();

} // namespace Tarnwick::KeychainLock
