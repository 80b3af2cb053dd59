#pragma once

#include "net/httpbody.h"
#include "net/httpprogress.h"
#include "net/httpresponse.h"
#include "net/httpsink.h"

#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

namespace Tarnwick {

// Requests sent on one lane go out one at a time, in the order they were sent, each as soon as
// the one before it ends, on the network thread. A worker that sends its next request while the
// current one runs so keeps one request in flight and loses no trip through the main thread
// between the two. Create with std::make_shared and use with one engine: its state belongs to
// that engine's network thread.
struct HttpLane
{
    bool busy = false;
};

// One request for HttpEngine::send.
struct HttpRequest
{
    // The default inactivity limit of every request.
    static constexpr std::chrono::seconds defaultInactivityTimeout{120};
    // The named interval between two progress reports of one request.
    static constexpr std::chrono::milliseconds progressInterval{50};

    QByteArray method = "GET";
    // https, or http to a loopback host only (HttpEngine refuses anything else).
    QUrl url;
    // Sent as given, after the engine's own (User-Agent). "Expect: 100-continue" is never sent.
    // A POST body without a Content-Type header is sent as application/x-www-form-urlencoded.
    HttpHeaders headers;
    // nullptr: no body. With a body, Content-Length is its size.
    std::shared_ptr<HttpBody> body;
    // Chooses where the response body goes (worker thread); empty: collect in memory.
    HttpSinkChooser chooseSink;
    // Called on the main thread, at most once per progress interval (through the clock) plus once
    // when the body is fully sent and once at the end, never after send() has returned.
    std::function<void(const HttpProgress &)> onProgress;
    // The request fails with a timed-out NetworkError when no byte moves either way for this long
    // (also the limit for connecting). Not a cap on the whole transfer: a large file takes as long
    // as it takes while bytes move. Whole seconds, at least 1. The network library judges the
    // speed over its last few seconds, so after a burst of bytes the limit may run out up to
    // about 6 seconds late.
    std::chrono::seconds inactivityTimeout = defaultInactivityTimeout;
    // For links a server's answer named: no connection is made to an address that is not
    // public (AddressPolicy::isPublic), whatever the host name resolves to; the request then
    // fails with a NetworkError before any byte is sent.
    bool publicAddressesOnly = false;
    // Empty: the request starts at once.
    std::shared_ptr<HttpLane> lane;
};

} // namespace Tarnwick
