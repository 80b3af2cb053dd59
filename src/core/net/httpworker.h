#pragma once

#include "net/httpexchange.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

typedef void CURLM;

namespace Tarnwick {

// The thread behind HttpEngine: owns the libcurl multi handle and every easy handle, takes
// commands from other threads, and posts progress and completions to the main thread. Internal
// to the engine.
class HttpWorker final
{
public:
    HttpWorker();
    ~HttpWorker();
    HttpWorker(const HttpWorker &) = delete;
    HttpWorker &operator=(const HttpWorker &) = delete;

    // Thread-safe.
    void submit(std::shared_ptr<HttpExchange> exchange);
    void cancel(std::shared_ptr<HttpExchange> exchange);
    // Ends every exchange as cancelled and joins the thread; later commands are ignored.
    void stop();

    int inFlight() const { return m_inFlight.load(); }
    // Completions posted to the main thread and not yet delivered there.
    int undelivered() const { return m_undelivered->load(); }

private:
    enum class Command { Submit, Cancel };

    void run();
    void post(Command command, std::shared_ptr<HttpExchange> exchange);
    void start(const std::shared_ptr<HttpExchange> &exchange);
    // Running and queued exchanges both count, for inFlight().
    void countInFlight();
    // Starts the exchange, or queues it behind the one its lane is running.
    void startOrQueue(const std::shared_ptr<HttpExchange> &exchange);
    // The lane of an exchange that ended is free: its next exchange starts.
    void startNextOnLane(HttpLane *lane);
    void reap();
    // Posts the reports that are due; how long until the next may be.
    std::chrono::milliseconds postProgress();
    // Finishes the body and the sink, settles the outcome, frees the handle and posts the
    // completion to the main thread.
    void complete(const std::shared_ptr<HttpExchange> &exchange, int curlCode, bool cancelled);
    // A handle from the spares, or a new one; a used handle back to the spares.
    CURL *takeHandle();
    void recycle(CURL *easy);

    CURLM *m_multi = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::pair<Command, std::shared_ptr<HttpExchange>>> m_commands;
    bool m_quit = false;
    bool m_stopped = false;
    std::unordered_map<CURL *, std::shared_ptr<HttpExchange>> m_active;
    // Exchanges waiting for their lane, in the order they were sent.
    std::vector<std::shared_ptr<HttpExchange>> m_queued;
    // Reset handles kept for the next requests: a new one allocates its receive buffer afresh.
    std::vector<CURL *> m_spare;
    std::atomic<int> m_inFlight = 0;
    // Shared with the posted completions, which may outlive the worker.
    std::shared_ptr<std::atomic<int>> m_undelivered = std::make_shared<std::atomic<int>>(0);
    std::chrono::steady_clock::time_point m_lastProgressPost;
};

} // namespace Tarnwick
