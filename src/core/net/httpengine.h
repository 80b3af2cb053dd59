#pragma once

#include "net/httprequest.h"
#include "net/httpresponse.h"

#include <QCoroTask>
#include <QtGlobal>

#include <memory>
#include <stop_token>

namespace Tarnwick {

class HttpWorker;

// The HTTP engine every outside request goes through: one libcurl multi handle driven by one
// worker thread, so transfers never wait for the main thread and the main thread never waits for
// the network.
//
// send() is called and awaited on the main thread. The request runs on the worker thread: its
// body is read there, its response head is handed to the request's sink chooser there, and its
// body is written there. Progress and completion come back to the main thread as posted events.
// Any number of requests may be in flight at once; connections are kept alive and reused. The
// worker thread runs a little below the main thread's priority (nice + 5), so that on a busy
// machine the window stays responsive while transfers take what is left.
//
// Policy, the same for every request: https with the system's certificate store, or plain http
// to a loopback host only (so no layer above can send a token in clear text); no redirects
// followed (Google answers an unfinished resumable upload with 308); no response cache; no
// "Expect: 100-continue"; an inactivity limit instead of a total timeout.
//
// Use TarnwickNetwork::session() for the process-wide engine.
class HttpEngine final
{
public:
    HttpEngine();
    // Ends every request still in flight as cancelled and stops the worker thread.
    ~HttpEngine();
    HttpEngine(const HttpEngine &) = delete;
    HttpEngine &operator=(const HttpEngine &) = delete;

    // Sends the request and waits for the whole answer. Main thread only.
    //
    // Returns the response whatever its status. Throws:
    // - TarnwickError, before anything is sent, for a URL the engine refuses (not https, or plain
    //   http to a host that is not loopback);
    // - NetworkError for a failure on the way (refused, reset, unresolved, TLS, no byte moving for
    //   the inactivity limit);
    // - the body's or sink's own failure (SystemError for the disk, e.g. disk full) when one of
    //   them aborted the request;
    // - Cancelled when the token is or becomes stopped. Cancelling takes the request off the
    //   worker thread first: once send() has thrown, its body and sink are no longer touched.
    QCoro::Task<HttpResponse> send(HttpRequest request, std::stop_token token = {});

    // Whether send() accepts the URL: https to any host, or http to 127.0.0.0/8, ::1 or
    // "localhost".
    static bool isAllowedUrl(const QUrl &url);

    // Requests the worker thread holds right now (tests watch requests being taken off).
    int requestsInFlight() const;
    // Requests in flight, or ended with their completion not yet delivered on the main thread.
    bool hasPendingWork() const;

private:
    std::shared_ptr<HttpWorker> m_worker;
};

} // namespace Tarnwick
