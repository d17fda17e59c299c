// bench-net: times the net_request service against the curl program on one in-process server on
// 127.0.0.1: a 256 MiB download, then 2,000 small GETs. Results are delivered on this thread (the
// UI thread here), whose GLib main context is pumped as the host's loop would be.

#include <glib.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "net_request/NetRequest.h"

using namespace LiveModule;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kBigSize = 256u << 20;
constexpr size_t kProviderChunk = 64u << 10;
constexpr int kSmallRequests = 2000;

struct Counts {
    int finished = 0;
    int failed = 0;
};

void OnResponse(const stResponseInfo& info, const char*) {
    auto* counts = static_cast<Counts*>(info.userData);
    ++counts->finished;
    counts->failed += info.errorCode != 0;
}

// Progress callbacks cost a UI task each, as a RequestClient download installs both.
void OnProgress(int, double, void*) {}
void OnBytes(int, long long, long long, void*) {}

// Runs the main context until `done`, blocking between events.
void PumpUntil(const std::function<bool()>& done) {
    GMainContext* context = g_main_context_ref_thread_default();
    while (!done()) g_main_context_iteration(context, TRUE);
    g_main_context_unref(context);
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Seconds the shell command took, or a negative number when it failed.
double TimeCommand(const std::string& command) {
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    return status == 0 ? Seconds(start) : -1.0;
}

}  // namespace

int main() {
    // The body of the big download, made once and served from memory.
    std::string big(kBigSize, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131) >> 7);

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };  // the server owns it
    // Answers leave at once: with Nagle's algorithm a reused connection waits for a delayed ACK
    // between the header and body writes, which would time the kernel rather than the clients.
    // Accepted connections inherit the option from the listening socket.
    server.set_socket_options([](socket_t sock) {
        httplib::default_socket_options(sock);
        const int on = 1;
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    });
    server.Get("/big.bin", [&big](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(big.size(), "application/octet-stream",
                                      [&big](size_t offset, size_t length, httplib::DataSink& sink) {
                                          return sink.write(big.data() + offset, std::min(length, kProviderChunk));
                                      });
    });
    server.Get(R"(/small/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content("small answer " + request.matches[1].str(), "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "bench-net: no port on 127.0.0.1\n");
        return 1;
    }
    std::thread listener([&server] { server.listen_after_bind(); });
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    char folderTemplate[] = "/tmp/bench-net-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    const std::string target = folder + "/big.bin";

    NetRequest net;
    net.Initialize();
    int owner = 0;
    int result = 0;

    // 1. The big download: the service (to a file, flushed per chunk) against curl to /dev/null.
    Counts download;
    stDownloadRequest request;
    const std::string bigUrl = base + "/big.bin";
    request.head.url = bigUrl.c_str();
    request.head.owner = &owner;
    request.head.userData = &download;
    request.savePath = target.c_str();
    request.binaryMode = 1;
    request.onResponse = &OnResponse;
    request.onProgress = &OnProgress;
    request.onByteProgress = &OnBytes;
    auto start = Clock::now();
    net.DownloadFile(&request);
    PumpUntil([&] { return download.finished == 1; });
    const double serviceSeconds = Seconds(start);
    std::error_code error;
    if (download.failed || std::filesystem::file_size(target, error) != kBigSize) {
        std::fprintf(stderr, "bench-net: the service's download failed\n");
        result = 1;
    }
    std::filesystem::remove(target, error);
    const double curlSeconds = TimeCommand("curl -s -o /dev/null '" + bigUrl + "'");
    const double mib = static_cast<double>(kBigSize) / (1 << 20);
    std::printf("download of %.0f MiB: DownloadFile %.3f s (%.1f MiB/s)", mib, serviceSeconds, mib / serviceSeconds);
    if (curlSeconds > 0) {
        std::printf(", curl %.3f s (%.1f MiB/s), time ratio DownloadFile/curl %.2f\n", curlSeconds,
                    mib / curlSeconds, serviceSeconds / curlSeconds);
    } else {
        std::printf(", curl failed\n");
        result = 1;
    }

    // 2. Many small GETs: the service's five workers against curl with five transfers at a time.
    Counts small;
    std::vector<std::string> urls;
    for (int i = 0; i < kSmallRequests; ++i) urls.push_back(base + "/small/" + std::to_string(i));
    start = Clock::now();
    for (const std::string& url : urls) {
        stHttpRequest get;
        get.head.url = url.c_str();
        get.head.owner = &owner;
        get.head.userData = &small;
        get.onResponse = &OnResponse;
        net.HttpGet(&get);
    }
    PumpUntil([&] { return small.finished == kSmallRequests; });
    const double serviceGets = Seconds(start);
    const std::string config = folder + "/urls.txt";
    {
        std::ofstream out(config);
        for (const std::string& url : urls) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    const double curlGets = TimeCommand("curl -s --parallel --parallel-max 5 -K '" + config + "' 2>/dev/null");
    std::printf("%d small GETs: HttpGet %.3f s (%d failed)", kSmallRequests, serviceGets, small.failed);
    if (curlGets > 0) {
        std::printf(", curl --parallel-max 5 %.3f s, time ratio HttpGet/curl %.2f\n", curlGets, serviceGets / curlGets);
    } else {
        std::printf(", curl failed\n");
        result = 1;
    }
    if (small.failed) result = 1;

    net.Uninitialize();
    server.stop();
    listener.join();
    std::filesystem::remove_all(folder, error);
    return result;
}
