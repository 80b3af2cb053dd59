#pragma once

#include "faults/faultrule.h"

namespace Tarnwick::Testing {

// A fault that lets the request take effect on the server and drops the connection before its
// answer, for `cuts` requests (0: every one) after `skip` matching ones. libcurl sends a request
// once more by itself when a kept-alive connection drops, so each cut takes two matches.
inline Emulator::FaultRule lostAnswer(const QString &method, const QString &path,
                                      const QString &query = {}, int cuts = 1, int skip = 0)
{
    Emulator::FaultRule rule =
        Emulator::FaultRule::resetRequestAfter(qint64(1) << 40, method, path);
    rule.query = query;
    rule.skip = skip;
    rule.times = 2 * cuts;
    return rule;
}

} // namespace Tarnwick::Testing
