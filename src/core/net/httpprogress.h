#pragma once

#include <QtGlobal>

namespace Tarnwick {

// Where one request stands. Within one request no field ever goes down.
struct HttpProgress
{
    qint64 sent = 0;      // request body bytes handed to the network
    qint64 sendTotal = 0; // request body size
    // The sink's start offset plus the body bytes received so far.
    qint64 received = 0;
    // The sink's start offset plus the announced body length; 0 while unknown.
    qint64 receiveTotal = 0;

    bool operator==(const HttpProgress &) const = default;
};

} // namespace Tarnwick
