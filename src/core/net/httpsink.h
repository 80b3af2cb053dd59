#pragma once

#include <QByteArray>

#include <functional>
#include <memory>

namespace Tarnwick {

struct HttpResponse;

// Where a response body goes. The engine asks the request's sink chooser for one when the
// response head (status and headers) has arrived, on its worker thread, and feeds it the body
// there. The sink is never touched from the main thread.
class HttpSink
{
public:
    virtual ~HttpSink() = default;

    // The next piece of the body, in order. Throw a Failure (SystemError for a disk failure) to
    // abort the request: the awaiting coroutine then throws that failure.
    virtual void write(const char *data, qint64 size) = 0;
    // Called once when the request ends, however it ends (complete, failed on the network,
    // cancelled): flush and close here, so that a part file holds every byte that arrived. A
    // throw becomes the request's failure unless the request was cancelled.
    virtual void finish() {}
    // Where the first body byte lands in the whole resource (the bytes a resumed download already
    // has). Progress counts received bytes from here.
    virtual qint64 startOffset() const { return 0; }
    // The collected body, handed back in HttpResponse::body after finish(). Sinks that store the
    // body elsewhere return nothing.
    virtual QByteArray takeBody() { return {}; }
};

// Picks the sink for a response from its head (`body` is still empty). Runs on the engine's worker
// thread, so it may touch the disk (create or truncate a part file). Returning nullptr collects
// the body in memory (HttpResponse::body). A throw aborts the request with that failure.
using HttpSinkChooser = std::function<std::unique_ptr<HttpSink>(const HttpResponse &head)>;

} // namespace Tarnwick
