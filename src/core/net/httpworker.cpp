#include "net/httpworker.h"

#include "net/addresspolicy.h"
#include "records/errors.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace Tarnwick {

namespace {

constexpr long receiveBufferSize = 1 << 20;
constexpr long sendBufferSize = 2 << 20;
// Enough spare handles for every worker of the busiest transfer and then some.
constexpr size_t spareHandles = 8;
constexpr int workerNiceOffset = 5;
// Answers without a sink of their own are API answers, thumbnails and error pages: one larger
// than this is a broken or hostile server, not something to hold in memory.
constexpr qint64 memoryBodyLimit = 64 << 20;

class MemorySink final : public HttpSink
{
public:
    explicit MemorySink(qint64 announced)
    {
        if (announced > 0 && announced <= memoryBodyLimit)
            m_body.reserve(qsizetype(announced));
    }
    void write(const char *data, qint64 size) override
    {
        if (m_body.size() + size > memoryBodyLimit)
            throw tooLarge();
        m_body.append(data, qsizetype(size));
    }
    QByteArray takeBody() override { return std::move(m_body); }

private:
    static NetworkError tooLarge()
    {
        return NetworkError(u"Phản hồi của máy chủ lớn hơn %1 MiB."_s.arg(memoryBodyLimit >> 20),
                            CURLE_FILESIZE_EXCEEDED);
    }

    QByteArray m_body;
};

// What the user reads about a failed transport; the library's own text stays in the detail.
QString failureText(CURLcode code)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return u"Không tìm thấy máy chủ. Hãy kiểm tra kết nối mạng rồi thử lại."_s;
    case CURLE_COULDNT_CONNECT:
        return u"Không kết nối được tới máy chủ. Hãy kiểm tra kết nối mạng rồi thử lại."_s;
    case CURLE_OPERATION_TIMEDOUT:
        return u"Máy chủ không phản hồi trong thời gian chờ. Hãy thử lại."_s;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
        return u"Không tạo được kết nối bảo mật tới máy chủ."_s;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return u"Kết nối mạng bị ngắt giữa chừng. Hãy thử lại."_s;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return u"Máy chủ trả lời không hợp lệ."_s;
    default:
        return u"Lỗi kết nối mạng. Hãy thử lại."_s;
    }
}

NetworkError failure(CURLcode code, const QString &detail)
{
    return NetworkError(failureText(code), code, code == CURLE_OPERATION_TIMEDOUT, detail);
}

void postToMain(std::function<void()> call)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

// Main thread: hands the newest figures to the request's progress callback.
void report(HttpExchange &exchange)
{
    if (!exchange.request.onProgress)
        return;
    HttpProgress now{exchange.sent.load(), exchange.sendTotal.load(), exchange.received.load(),
                     exchange.receiveTotal.load()};
    // Figures only ever grow within one request, whatever the network library says.
    const HttpProgress &last = exchange.reported;
    now.sent = std::max(now.sent, last.sent);
    now.sendTotal = std::max(now.sendTotal, last.sendTotal);
    now.received = std::max(now.received, last.received);
    now.receiveTotal = std::max(now.receiveTotal, last.receiveTotal);
    if (now == last)
        return;
    exchange.reported = now;
    try {
        exchange.request.onProgress(now);
    } catch (const std::exception &e) {
        qWarning("A progress callback failed: %s", e.what());
    }
}

void deliverProgress(const std::shared_ptr<HttpExchange> &exchange)
{
    // Cleared before reading, so figures stored after this point post a new report.
    exchange->progressPosted.store(false);
    if (!exchange->done)
        report(*exchange);
}

void deliverCompletion(const std::shared_ptr<HttpExchange> &exchange)
{
    if (!exchange->cancelled && !exchange->error)
        report(*exchange);
    exchange->done = true;
    if (auto waiter = std::exchange(exchange->waiter, {}))
        waiter.resume();
}

// Worker: notes that the figures moved; HttpWorker::postProgress sends the reports.
void noteProgress(HttpExchange &x)
{
    if (!x.request.onProgress)
        return;
    x.progressChanged = true;
    if (!x.sendEndPosted && x.sendTotal > 0 && x.sent >= x.sendTotal)
        x.progressEnd = x.sendEndPosted = true;
    if (!x.receiveEndPosted && x.receiveTotal > 0 && x.received >= x.receiveTotal)
        x.progressEnd = x.receiveEndPosted = true;
}

std::shared_ptr<HttpExchange> *exchangeOf(void *userdata)
{
    return static_cast<std::shared_ptr<HttpExchange> *>(userdata);
}

void chooseSink(const std::shared_ptr<HttpExchange> &exchange)
{
    HttpExchange &x = *exchange;
    bool ok = false;
    const qint64 announced = x.response.header("Content-Length").trimmed().toLongLong(&ok);
    if (x.request.chooseSink)
        x.sink = x.request.chooseSink(x.response);
    if (!x.sink)
        x.sink = std::make_unique<MemorySink>(ok ? announced : -1);
    const qint64 start = x.sink->startOffset();
    x.received = start;
    // A length no file could reach (a hostile or broken server) counts as unknown.
    const bool fits = ok && announced >= 0 && start >= 0 &&
                      announced <= std::numeric_limits<qint64>::max() - start;
    x.receiveTotal = fits ? start + announced : 0;
}

size_t onHeader(char *data, size_t size, size_t count, void *userdata)
{
    const auto &exchange = *exchangeOf(userdata);
    HttpExchange &x = *exchange;
    const size_t n = size * count;
    const QByteArrayView line(data, qsizetype(n));
    if (line.startsWith("HTTP/")) {
        // Each head (an interim 1xx one, then the final one) starts over.
        x.response.headers.clear();
        x.headComplete = false;
        return n;
    }
    const QByteArray trimmed = line.toByteArray().trimmed();
    if (trimmed.isEmpty()) {
        long status = 0;
        curl_easy_getinfo(x.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 100 && status < 200)
            return n;
        x.response.status = int(status);
        x.headComplete = true;
        try {
            chooseSink(exchange);
        } catch (...) {
            x.failure = std::current_exception();
            return 0;
        }
        return n;
    }
    const qsizetype colon = trimmed.indexOf(':');
    if (colon > 0)
        x.response.headers.append(
            {trimmed.left(colon).trimmed(), trimmed.mid(colon + 1).trimmed()});
    return n;
}

size_t onWrite(char *data, size_t size, size_t count, void *userdata)
{
    const auto &exchange = *exchangeOf(userdata);
    HttpExchange &x = *exchange;
    const size_t n = size * count;
    try {
        if (!x.sink)
            chooseSink(exchange);
        x.sink->write(data, qint64(n));
    } catch (...) {
        x.failure = std::current_exception();
        return 0;
    }
    x.received += qint64(n);
    noteProgress(*exchange);
    return n;
}

size_t onRead(char *buffer, size_t size, size_t count, void *userdata)
{
    HttpExchange &x = **exchangeOf(userdata);
    const qint64 total = x.request.body->size();
    if (x.readOffset >= total)
        return 0;
    const qint64 capacity = std::min(qint64(size * count), total - x.readOffset);
    try {
        const qint64 n = x.request.body->read(x.readOffset, buffer, capacity);
        if (n <= 0 || n > capacity)
            throw TarnwickError(u"The request body gave no bytes"_s);
        x.readOffset += n;
        return size_t(n);
    } catch (...) {
        x.failure = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

// libcurl rewinds when it re-sends a request on a fresh connection.
int onSeek(void *userdata, curl_off_t offset, int origin)
{
    HttpExchange &x = **exchangeOf(userdata);
    if (origin != SEEK_SET || offset < 0 || offset > x.request.body->size())
        return CURL_SEEKFUNC_CANTSEEK;
    x.readOffset = offset;
    return CURL_SEEKFUNC_OK;
}

int onTransferInfo(void *userdata, curl_off_t, curl_off_t, curl_off_t, curl_off_t sentNow)
{
    const auto &exchange = *exchangeOf(userdata);
    if (sentNow > exchange->sent)
        exchange->sent = qint64(sentNow);
    noteProgress(*exchange);
    return 0;
}

// Opens the socket for a connection only to a public address: the check runs on the address
// actually connected to, after name resolution, so a host name that resolves to this machine or
// the local network is refused too.
curl_socket_t openPublicSocket(void *, curlsocktype, curl_sockaddr *address)
{
    const QHostAddress target(reinterpret_cast<const sockaddr *>(&address->addr));
    if (!AddressPolicy::isPublic(target))
        return CURL_SOCKET_BAD;
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

bool bodyMethod(const QByteArray &method)
{
    return method == "POST" || method == "PUT" || method == "PATCH";
}

} // namespace

HttpWorker::HttpWorker()
{
    static std::once_flag globalInit;
    std::call_once(globalInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_multi = curl_multi_init();
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "tarnwick-http");
        // On a busy machine the window's thread must win over bulk transfers: on Linux this
        // lowers the priority of this thread alone.
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, 0);
        if (errno == 0)
            setpriority(PRIO_PROCESS, 0, std::min(nice + workerNiceOffset, 19));
        run();
    });
}

HttpWorker::~HttpWorker()
{
    stop();
}

void HttpWorker::submit(std::shared_ptr<HttpExchange> exchange)
{
    post(Command::Submit, std::move(exchange));
}

void HttpWorker::cancel(std::shared_ptr<HttpExchange> exchange)
{
    exchange->cancelRequested = true;
    post(Command::Cancel, std::move(exchange));
}

void HttpWorker::post(Command command, std::shared_ptr<HttpExchange> exchange)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_quit)
            return;
        m_commands.emplace_back(command, std::move(exchange));
    }
    curl_multi_wakeup(m_multi);
}

void HttpWorker::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopped)
            return;
        m_stopped = m_quit = true;
    }
    curl_multi_wakeup(m_multi);
    m_thread.join();
    for (CURL *easy : std::exchange(m_spare, {}))
        curl_easy_cleanup(easy);
    curl_multi_cleanup(m_multi);
    m_multi = nullptr;
}

void HttpWorker::run()
{
    for (;;) {
        std::vector<std::pair<Command, std::shared_ptr<HttpExchange>>> commands;
        bool quit;
        {
            std::lock_guard lock(m_mutex);
            commands.swap(m_commands);
            quit = m_quit;
        }
        for (auto &[command, exchange] : commands) {
            if (command == Command::Submit) {
                if (exchange->cancelRequested)
                    complete(exchange, CURLE_OK, true);
                else
                    startOrQueue(exchange);
            } else if (exchange->easy && m_active.count(exchange->easy)) {
                complete(exchange, CURLE_OK, true);
            } else if (const auto queued = std::find(m_queued.begin(), m_queued.end(), exchange);
                       queued != m_queued.end()) {
                m_queued.erase(queued);
                complete(exchange, CURLE_OK, true);
            }
        }
        if (quit)
            break;
        int running = 0;
        curl_multi_perform(m_multi, &running);
        reap();
        const auto untilProgress = postProgress();
        curl_multi_poll(m_multi, nullptr, 0, int(std::min<qint64>(1000, untilProgress.count())),
                        nullptr);
    }
    // Whatever is still in flight ends as cancelled; the queued first, so that no lane starts
    // its next one.
    std::vector<std::shared_ptr<HttpExchange>> left = std::exchange(m_queued, {});
    for (auto &[easy, exchange] : m_active)
        left.push_back(exchange);
    for (auto &exchange : left)
        complete(exchange, CURLE_OK, true);
}

std::chrono::milliseconds HttpWorker::postProgress()
{
    // One main-thread event carries the reports of every request whose figures moved, at most
    // once per interval (at once when a body was all sent or received), so six transfers wake
    // the window's thread as often as one does.
    using namespace std::chrono;
    std::vector<std::shared_ptr<HttpExchange>> due;
    milliseconds interval = HttpRequest::progressInterval;
    bool end = false;
    for (const auto &[easy, exchange] : m_active) {
        if (!exchange->progressChanged)
            continue;
        due.push_back(exchange);
        interval = std::min(interval, exchange->progressInterval);
        end = end || exchange->progressEnd;
    }
    if (due.empty())
        return milliseconds(1000);
    const auto now = steady_clock::now();
    const auto waited = duration_cast<milliseconds>(now - m_lastProgressPost);
    if (!end && waited < interval)
        return std::max(milliseconds(1), interval - waited);
    m_lastProgressPost = now;
    std::erase_if(due, [](const std::shared_ptr<HttpExchange> &exchange) {
        exchange->progressChanged = exchange->progressEnd = false;
        // One still on its way will read the newest figures.
        return exchange->progressPosted.exchange(true);
    });
    if (!due.empty())
        postToMain([due = std::move(due)] {
            for (const auto &exchange : due)
                deliverProgress(exchange);
        });
    return milliseconds(1000);
}

void HttpWorker::countInFlight()
{
    m_inFlight = int(m_active.size() + m_queued.size());
}

void HttpWorker::startOrQueue(const std::shared_ptr<HttpExchange> &exchange)
{
    const std::shared_ptr<HttpLane> &lane = exchange->request.lane;
    if (lane && lane->busy) {
        m_queued.push_back(exchange);
        countInFlight();
        return;
    }
    start(exchange);
}

void HttpWorker::startNextOnLane(HttpLane *lane)
{
    for (;;) {
        const auto next = std::find_if(m_queued.begin(), m_queued.end(), [lane](const auto &x) {
            return x->request.lane.get() == lane;
        });
        if (next == m_queued.end())
            return;
        const std::shared_ptr<HttpExchange> exchange = *next;
        m_queued.erase(next);
        if (!exchange->cancelRequested) {
            start(exchange);
            return;
        }
        complete(exchange, CURLE_OK, true);
    }
}

void HttpWorker::start(const std::shared_ptr<HttpExchange> &exchange)
{
    HttpExchange &x = *exchange;
    const HttpRequest &request = x.request;
    if (request.lane) {
        request.lane->busy = true;
        x.holdsLane = true;
    }
    CURL *easy = takeHandle();
    if (!easy) {
        x.easy = nullptr;
        x.failure = std::make_exception_ptr(failure(CURLE_OUT_OF_MEMORY, u"Out of memory"_s));
        complete(exchange, CURLE_OUT_OF_MEMORY, false);
        return;
    }
    x.easy = easy;
    m_active.emplace(easy, exchange);
    countInFlight();
    // The map entry owns the exchange for as long as the handle lives.
    void *self = &m_active.find(easy)->second;

    const QByteArray url = request.url.toEncoded();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, x.errorBuffer);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "Tarnwick/" TARNWICK_VERSION);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, receiveBufferSize);
    curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, sendBufferSize);
    curl_easy_setopt(easy, CURLOPT_TCP_NODELAY, 1L);
    // Waiting to share a connection only pays where HTTP/2 may come (TLS): over plain http every
    // request but the first would wait for the first one to end.
    if (request.url.scheme() == u"https"_s)
        curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    const long inactivity = std::max<long>(1, long(request.inactivityTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, inactivity);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, inactivity);
    if (request.publicAddressesOnly)
        curl_easy_setopt(easy, CURLOPT_OPENSOCKETFUNCTION, openPublicSocket);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, self);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onWrite);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, self);
    if (request.onProgress) {
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onTransferInfo);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, self);
    }

    const QByteArray &method = request.method;
    const qint64 bodySize = request.body ? request.body->size() : 0;
    x.sendTotal = bodySize;
    if (method == "HEAD") {
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    } else if (request.body || bodyMethod(method)) {
        if (method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(bodySize));
        } else {
            // An upload without the form content type that libcurl gives a POST.
            curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(bodySize));
            if (method != "PUT")
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
        }
        if (request.body) {
            curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
            curl_easy_setopt(easy, CURLOPT_READDATA, self);
            curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, onSeek);
            curl_easy_setopt(easy, CURLOPT_SEEKDATA, self);
        } else {
            curl_easy_setopt(
                easy, CURLOPT_READFUNCTION,
                +[](char *, size_t, size_t, void *) -> size_t { return 0; });
        }
    } else if (method != "GET") {
        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.constData());
    }

    curl_slist *list = nullptr;
    for (const auto &[name, value] : request.headers) {
        // "Name;" is libcurl's way to send a header with an empty value.
        const QByteArray line = value.isEmpty() ? name + ';' : name + ": " + value;
        list = curl_slist_append(list, line.constData());
    }
    list = curl_slist_append(list, "Expect:");
    x.headerList = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);

    if (curl_multi_add_handle(m_multi, easy) != CURLM_OK) {
        x.failure = std::make_exception_ptr(
            failure(CURLE_FAILED_INIT, u"The request could not be started"_s));
        complete(exchange, CURLE_FAILED_INIT, false);
    }
}

CURL *HttpWorker::takeHandle()
{
    if (m_spare.empty())
        return curl_easy_init();
    CURL *easy = m_spare.back();
    m_spare.pop_back();
    return easy;
}

void HttpWorker::recycle(CURL *easy)
{
    if (m_spare.size() >= spareHandles) {
        curl_easy_cleanup(easy);
        return;
    }
    // Every option goes back to its default; the buffers and the connection cache stay.
    curl_easy_reset(easy);
    m_spare.push_back(easy);
}

void HttpWorker::reap()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        const auto it = m_active.find(message->easy_handle);
        if (it == m_active.end())
            continue;
        const std::shared_ptr<HttpExchange> exchange = it->second;
        complete(exchange, message->data.result, false);
    }
}

void HttpWorker::complete(const std::shared_ptr<HttpExchange> &exchange, int curlCode,
                          bool cancelled)
{
    HttpExchange &x = *exchange;
    // Counted before the request stops counting as in flight: a watcher never sees neither.
    ++*m_undelivered;
    if (x.sink) {
        try {
            x.sink->finish();
        } catch (...) {
            if (!x.failure)
                x.failure = std::current_exception();
        }
    }
    if (x.request.body) {
        try {
            x.request.body->close();
        } catch (...) {
        }
    }

    const auto code = CURLcode(curlCode);
    if (cancelled) {
        x.cancelled = true;
    } else if (x.failure) {
        x.error = x.failure;
    } else if (code != CURLE_OK) {
        const QString text = x.errorBuffer[0] ? QString::fromUtf8(x.errorBuffer)
                                              : QString::fromUtf8(curl_easy_strerror(code));
        x.error = std::make_exception_ptr(failure(code, text));
    } else if (!x.headComplete) {
        x.error = std::make_exception_ptr(failure(
            CURLE_WEIRD_SERVER_REPLY, u"The server answered without a response head"_s));
    } else {
        x.response.body = x.sink->takeBody();
    }

    if (x.easy) {
        curl_multi_remove_handle(m_multi, x.easy);
        m_active.erase(x.easy);
        recycle(x.easy);
        x.easy = nullptr;
    }
    curl_slist_free_all(x.headerList);
    x.headerList = nullptr;
    // A file sink closes here, on the worker, not wherever the last reference happens to go.
    x.sink.reset();
    countInFlight();
    // Taken before the completion is posted: from then on the exchange is the main thread's.
    const std::shared_ptr<HttpLane> lane =
        std::exchange(x.holdsLane, false) ? x.request.lane : nullptr;
    postToMain([exchange, undelivered = m_undelivered] {
        deliverCompletion(exchange);
        --*undelivered;
    });
    if (lane) {
        lane->busy = false;
        startNextOnLane(lane.get());
    }
}

} // namespace Tarnwick
