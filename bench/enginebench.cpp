// Moves one file through Tarnwick's HTTP engine and measures it, for bench/engine-throughput.
//
//   tarnwick-bench-engine download URL OUT             one GET streamed into OUT
//   tarnwick-bench-engine upload URL FILE [CHUNK]      FILE as PUTs of CHUNK bytes (8 MiB), one
//                                                      after the other, to a resumable-upload
//                                                      session URL or else to URL/<offset>
//   tarnwick-bench-engine idle [MS]                    starts the engine, waits MS (300) ms
//
// While the transfer runs, a 10 ms timer on the main thread records how late each tick comes, and
// the main thread's own CPU time is taken (lateness with little CPU is the scheduler's, not ours).
// Prints "RESULT bytes=… secs=… mbps=… progress_calls=… main_cpu_ms=… lateness_p99_ms=…
// lateness_max_ms=…". TARNWICK_BENCH_TOKEN, when set, is sent as a bearer token.
#include "net/httpengine.h"
#include "net/httpfilesink.h"
#include "async/runsync.h"
#include "net/tarnwicknetwork.h"
#include "latenessprobe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Tarnwick;
using namespace Tarnwick::Bench;
using namespace Qt::StringLiterals;

namespace {

long progressCalls = 0;

void countProgress(const HttpProgress &)
{
    ++progressCalls;
}

HttpHeaders authorization()
{
    const QByteArray token = qgetenv("TARNWICK_BENCH_TOKEN");
    if (token.isEmpty())
        return {};
    return {{"Authorization", "Bearer " + token}};
}

QCoro::Task<qint64> download(QUrl url, QString out)
{
    HttpRequest request;
    request.url = url;
    request.headers = authorization();
    request.chooseSink = [out](const HttpResponse &head) -> std::unique_ptr<HttpSink> {
        if (head.status != 200)
            return nullptr;
        return std::make_unique<HttpFileSink>(out, HttpFileSink::Mode::Truncate);
    };
    request.onProgress = countProgress;
    const HttpResponse response = co_await TarnwickNetwork::session().send(std::move(request));
    if (response.status != 200)
        throw std::runtime_error("GET answered " + std::to_string(response.status));
    co_return QFileInfo(out).size();
}

// A URL with an upload_id is a resumable-upload session: every chunk goes to it, and each but the
// last is answered 308 with the committed range. Otherwise chunk N goes to URL/<offset>.
QCoro::Task<qint64> upload(QUrl url, QString file, qint64 chunk)
{
    const bool session = url.query().contains(u"upload_id="_s);
    const qint64 total = QFileInfo(file).size();
    qint64 offset = 0;
    while (offset < total) {
        const qint64 length = std::min(chunk, total - offset);
        const bool last = offset + length == total;
        HttpRequest request;
        request.method = "PUT";
        request.url = session ? url : QUrl(url.toString() + u"/%1"_s.arg(offset));
        request.headers = authorization();
        request.headers += {{"Content-Type", "application/octet-stream"},
                            {"Content-Range", "bytes " + QByteArray::number(offset) + '-' +
                                                  QByteArray::number(offset + length - 1) + '/' +
                                                  QByteArray::number(total)}};
        request.body = HttpBody::fromFile(file, offset, length);
        request.onProgress = countProgress;
        const HttpResponse response = co_await TarnwickNetwork::session().send(std::move(request));
        const bool accepted =
            session && !last
                ? response.status == 308 && response.header("Range") ==
                                                "bytes=0-" + QByteArray::number(offset + length - 1)
                : response.status == 200 || response.status == 201;
        if (!accepted)
            throw std::runtime_error("PUT at " + std::to_string(offset) + " answered " +
                                     std::to_string(response.status));
        if (last)
            std::printf("FINAL %s\n", response.body.simplified().constData());
        offset += length;
    }
    co_return total;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (!((mode == u"idle"_s && args.size() <= 2) || (mode == u"download"_s && args.size() == 3) ||
          (mode == u"upload"_s && (args.size() == 3 || args.size() == 4)))) {
        std::fprintf(stderr, "usage: tarnwick-bench-engine download URL OUT | upload URL FILE "
                             "[CHUNK] | idle\n");
        return 2;
    }
    TarnwickNetwork::session();
    const double cpuBefore = threadCpuMs();
    LatenessProbe probe(10);
    QElapsedTimer clock;
    clock.start();
    qint64 bytes = 0;
    try {
        if (mode == u"idle"_s) {
            QEventLoop loop;
            QTimer::singleShot(args.size() == 2 ? args[1].toInt() : 300, &loop, &QEventLoop::quit);
            loop.exec();
        } else if (mode == u"download"_s) {
            bytes = runSync(download(QUrl(args[1]), args[2]), std::chrono::minutes(10));
        } else {
            const qint64 chunk = args.size() == 4 ? args[3].toLongLong() : qint64(8) << 20;
            bytes = runSync(upload(QUrl(args[1]), args[2], chunk), std::chrono::minutes(10));
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "FAIL: %s\n", e.what());
        return 1;
    }
    const double secs = double(clock.nsecsElapsed()) / 1e9;
    probe.stop();
    std::printf("RESULT bytes=%lld secs=%.3f mbps=%.1f progress_calls=%ld main_cpu_ms=%.1f "
                "lateness_p99_ms=%.2f lateness_max_ms=%.2f\n",
                bytes, secs, double(bytes) / secs / 1e6, progressCalls, threadCpuMs() - cpuBefore,
                probe.percentileMs(0.99), probe.maxMs());
    return 0;
}
