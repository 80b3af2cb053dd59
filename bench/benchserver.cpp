// A plain HTTP server for the engine benchmark: serves one file and swallows uploads, so that the
// engine and curl move the same bytes against the same peer.
//
//   tarnwick-bench-server FILE     prints "PORT <n>", then serves on 127.0.0.1:<n> until killed:
//     GET /file               the file
//     PUT /upload/<offset>    one chunk: must carry "Content-Range: bytes <offset>-<last>/<total>"
//     PUT /whole              a whole body
//     GET /stats              "<bytes received> <bad requests>", then the counters start over
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<long long> received = 0;
std::atomic<long long> bad = 0;

void swallow(const httplib::ContentReader &reader, long long expected, httplib::Response &response)
{
    long long size = 0;
    reader([&size](const char *, size_t length) {
        size += (long long)length;
        return true;
    });
    received += size;
    if (expected >= 0 && size != expected)
        ++bad;
    response.set_content("ok", "text/plain");
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tarnwick-bench-server FILE\n");
        return 2;
    }
    const std::string path = argv[1];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info = {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        std::perror(path.c_str());
        return 1;
    }
    const size_t fileSize = size_t(info.st_size);

    httplib::Server server;
    server.set_tcp_nodelay(true);
    server.set_keep_alive_max_count(100000);
    server.set_payload_max_length(size_t(1) << 40);
    server.new_task_queue = [] { return new httplib::ThreadPool(8); };

    server.Get("/file", [fd, fileSize](const httplib::Request &, httplib::Response &response) {
        response.set_content_provider(fileSize, "application/octet-stream",
                                      [fd](size_t offset, size_t length, httplib::DataSink &sink) {
                                          static thread_local std::string buffer(1 << 20, '\0');
                                          const size_t want = std::min(length, buffer.size());
                                          const ssize_t n =
                                              ::pread(fd, buffer.data(), want, off_t(offset));
                                          return n > 0 && sink.write(buffer.data(), size_t(n));
                                      });
    });
    server.Put(R"(/upload/(\d+))", [](const httplib::Request &request, httplib::Response &response,
                                      const httplib::ContentReader &reader) {
        const long long offset = std::stoll(request.matches[1]);
        long long first = -1, last = -2, total = -1;
        const std::string range = request.get_header_value("Content-Range");
        if (std::sscanf(range.c_str(), "bytes %lld-%lld/%lld", &first, &last, &total) != 3 ||
            first != offset || last < first || last >= total)
            ++bad;
        swallow(reader, last - first + 1, response);
    });
    server.Put("/whole",
               [](const httplib::Request &, httplib::Response &response,
                  const httplib::ContentReader &reader) { swallow(reader, -1, response); });
    server.Get("/stats", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(std::to_string(received.exchange(0)) + " " +
                                 std::to_string(bad.exchange(0)),
                             "text/plain");
    });

    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "cannot bind\n");
        return 1;
    }
    std::printf("PORT %d\n", port);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}
