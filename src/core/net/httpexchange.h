#pragma once

#include "net/httprequest.h"
#include "net/httpresponse.h"

#include <atomic>
#include <chrono>
#include <coroutine>
#include <exception>
#include <memory>

typedef void CURL;
struct curl_slist;

namespace Tarnwick {

// One request in flight, shared by HttpEngine::send (main thread) and HttpWorker (worker thread).
// Until the worker posts the completion, the worker alone touches the "worker" fields; after it,
// the main thread alone. The atomics are read and written by both.
struct HttpExchange
{
    HttpExchange(HttpRequest request, std::chrono::milliseconds progressInterval)
        : request(std::move(request))
        , progressInterval(progressInterval)
    {
    }

    HttpRequest request;
    const std::chrono::milliseconds progressInterval;

    // Worker fields.
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    char errorBuffer[256] = {};
    HttpResponse response;
    bool headComplete = false;
    std::unique_ptr<HttpSink> sink;
    std::exception_ptr failure; // from the body, the sink chooser or the sink
    qint64 readOffset = 0;
    bool progressChanged = false; // figures moved since the last report was posted
    bool progressEnd = false;     // ... and one of them reached its total
    bool sendEndPosted = false;
    bool receiveEndPosted = false;
    bool holdsLane = false; // started on its lane, which waits for it to end

    // Both threads.
    std::atomic<bool> cancelRequested = false;
    std::atomic<bool> progressPosted = false;
    std::atomic<qint64> sent = 0;
    std::atomic<qint64> sendTotal = 0;
    std::atomic<qint64> received = 0;
    std::atomic<qint64> receiveTotal = 0;

    // Set by the worker just before it posts the completion.
    bool cancelled = false;
    std::exception_ptr error;

    // Main thread fields.
    bool done = false;
    std::coroutine_handle<> waiter;
    HttpProgress reported;
};

} // namespace Tarnwick
