// bench-net: times the net_request service against the curl program, run by run, on a server in a
// child process on 127.0.0.1 (so that each side's CPU time is its own): a large download into a file
// beside curl's on the same disk, and many small GETs beside curl --parallel --parallel-max 5. The
// sides alternate which goes first; the ratios of each pair are summarised by min and median. Then the
// idle service's wake-ups per second and the delay of results on the UI thread. Results come on this
// thread (the UI thread here), whose GLib main context is run as the host's loop would run it.
//
//   bench-net [--runs N] [--mib N] [--gets N] [--dir FOLDER]   (build it in Release)

#include <glib.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "net_request/NetRequest.h"

using namespace LiveModule;
using Clock = std::chrono::steady_clock;

namespace {

struct Options {
    int runs = 5;
    size_t mib = 256;
    int gets = 2000;
    int latencySamples = 500;
    std::string dir = ".";
};

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Serves /big.bin (mib MiB), /small/N and /stamp (the steady clock, in ns, when answered); never
// returns. Started before this process has any thread.
[[noreturn]] void Serve(size_t mib, int portPipe) {
    const std::string big = [&] {
        std::string bytes(mib << 20, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 7);
        return bytes;
    }();
    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };  // the server owns it
    server.set_keep_alive_max_count(100000);  // as a real server keeps connections for many requests
    // Answers leave at once: with Nagle's algorithm a reused connection waits for a delayed ACK
    // between the header and body writes, which would time the kernel rather than the clients.
    server.set_socket_options([](socket_t sock) {
        httplib::default_socket_options(sock);
        const int on = 1;
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    });
    server.Get("/big.bin", [&big](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(big.size(), "application/octet-stream",
                                      [&big](size_t offset, size_t length, httplib::DataSink& sink) {
                                          return sink.write(big.data() + offset, std::min<size_t>(length, 64 << 10));
                                      });
    });
    server.Get(R"(/small/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.set_content("small answer " + request.matches[1].str(), "application/octet-stream");
    });
    server.Get("/stamp", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(std::to_string(NowNs()), "application/octet-stream");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (write(portPipe, &port, sizeof port) != sizeof port) _exit(1);
    close(portPipe);
    server.listen_after_bind();
    _exit(0);
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Voluntary context switches of every thread of this process: each one a sleep, so each wake-up.
long Switches() {
    long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
                total += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return total;
}

// Runs the UI loop for `ms` milliseconds with nothing to do but the timer that ends it.
void RunLoopFor(int ms) {
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_timeout_add(ms, [](gpointer l) { g_main_loop_quit(static_cast<GMainLoop*>(l)); return G_SOURCE_REMOVE; }, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
}

// Wake-ups per second of every thread over 2 s of an idle UI loop (the timer's own one taken off),
// after 200 ms for threads that were finishing something to fall asleep.
double IdleWakeupsPerSecond() {
    constexpr int kIdleMs = 2000;
    RunLoopFor(200);
    const long before = Switches();
    RunLoopFor(kIdleMs);
    const long wakeups = std::max(0L, Switches() - before - 1);
    return wakeups * 1000.0 / kIdleMs;
}

// Runs the main context until `done`, blocking between events.
void PumpUntil(const std::function<bool()>& done) {
    while (!done()) g_main_context_iteration(nullptr, TRUE);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(p * values.size()))];
}

struct Timed {
    double seconds = -1;  // negative: failed
    double cpu = 0;
};

// Runs a shell command; its wall time and the CPU time of the processes it ran.
Timed RunCommand(const std::string& command) {
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    Timed timed;
    if (status == 0) timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timed.cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu;
    return timed;
}

struct Counts {
    int finished = 0;
    int failed = 0;
};

void OnResponse(const stResponseInfo& info, const char*) {
    auto* counts = static_cast<Counts*>(info.userData);
    ++counts->finished;
    counts->failed += info.errorCode != 0;
}

// Progress costs a UI task per report, as a RequestClient download installs both.
void OnProgress(int, double, void*) {}
int chunks = 0;  // byte reports of the last download, on the UI thread
void OnBytes(int, long long, long long, void*) {
    ++chunks;
}

// Runs `fn` with this process's wall and CPU time measured.
Timed Measure(const std::function<bool()>& fn) {
    const double cpu = CpuSeconds(RUSAGE_SELF);
    const auto start = Clock::now();
    Timed timed;
    if (fn()) timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timed.cpu = CpuSeconds(RUSAGE_SELF) - cpu;
    return timed;
}

// Runs each side `runs` times, alternating which goes first, into fresh lists of samples.
void Interleave(int runs, const std::function<Timed()>& ours, const std::function<Timed()>& theirs,
                std::vector<Timed>& service, std::vector<Timed>& curl) {
    service.clear();
    curl.clear();
    for (int run = 0; run < runs; ++run) {
        if (run % 2 == 0) {
            service.push_back(ours());
            curl.push_back(theirs());
        } else {
            curl.push_back(theirs());
            service.push_back(ours());
        }
    }
}

// Prints one comparison: min and median of the per-run ratios, and the medians of each side.
bool Report(const char* what, const char* ours, const char* theirs, const std::vector<Timed>& service,
            const std::vector<Timed>& curl, bool withCpu) {
    std::vector<double> time, cpu, serviceSeconds, curlSeconds;
    for (size_t i = 0; i < service.size(); ++i) {
        if (service[i].seconds < 0 || curl[i].seconds < 0) {
            std::printf("%s: a run failed\n", what);
            return false;
        }
        time.push_back(service[i].seconds / curl[i].seconds);
        cpu.push_back(service[i].cpu / curl[i].cpu);
        serviceSeconds.push_back(service[i].seconds);
        curlSeconds.push_back(curl[i].seconds);
    }
    std::printf("%s (%zu runs each, interleaved): %s median %.3f s, %s median %.3f s\n", what, service.size(), ours,
                Median(serviceSeconds), theirs, Median(curlSeconds));
    std::printf("  time ratio %s/%s: min %.2f, median %.2f\n", ours, theirs, *std::min_element(time.begin(), time.end()),
                Median(time));
    if (withCpu) {
        std::printf("  CPU ratio %s/%s: min %.2f, median %.2f\n", ours, theirs, *std::min_element(cpu.begin(), cpu.end()),
                    Median(cpu));
    }
    return true;
}

struct Stamps {
    std::mutex lock;
    std::vector<double> delays;  // microseconds from the server's answer to the callback
    std::atomic<int> done{0};
};

void OnStamp(const stResponseInfo& info, const char* text) {
    const int64_t now = NowNs();
    auto* stamps = static_cast<Stamps*>(info.userData);
    {
        std::lock_guard<std::mutex> guard(stamps->lock);
        if (info.errorCode == 0) stamps->delays.push_back(static_cast<double>(now - std::atoll(text)) / 1000.0);
    }
    ++stamps->done;
}

// One GET at a time to /stamp, the UI thread asleep meanwhile: delays from answer to callback.
std::vector<double> Delays(NetRequest& net, const std::string& url, bool onUiThread, int samples) {
    Stamps stamps;
    int owner = 0;
    for (int i = 0; i < samples; ++i) {
        stHttpRequest get;
        get.head.url = url.c_str();
        get.head.owner = &owner;
        get.head.userData = &stamps;
        get.head.callbackOnUiThread = onUiThread;
        get.onResponse = &OnStamp;
        net.HttpGet(&get);
        if (onUiThread) {
            PumpUntil([&] { return stamps.done > i; });
        } else {
            while (stamps.done <= i) std::this_thread::yield();
        }
    }
    return stamps.delays;
}

bool Parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--runs") options.runs = std::max(1, std::atoi(value.c_str()));
        else if (flag == "--mib") options.mib = std::max(1, std::atoi(value.c_str()));
        else if (flag == "--gets") options.gets = std::max(1, std::atoi(value.c_str()));
        else if (flag == "--dir") options.dir = value;
        else return false;
    }
    return argc % 2 == 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!Parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: bench-net [--runs N] [--mib N] [--gets N] [--dir FOLDER]\n");
        return 64;
    }
    int portPipe[2];
    if (pipe(portPipe) != 0) return 1;
    const pid_t server = fork();
    if (server == 0) {
        close(portPipe[0]);
        Serve(options.mib, portPipe[1]);
    }
    close(portPipe[1]);
    int port = 0;
    if (server < 0 || read(portPipe[0], &port, sizeof port) != sizeof port || port <= 0) {
        std::fprintf(stderr, "bench-net: the server did not start\n");
        return 1;
    }
    close(portPipe[0]);
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const std::string folderTemplate = options.dir + "/bench-net-XXXXXX";
    std::vector<char> name(folderTemplate.begin(), folderTemplate.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) {
        std::fprintf(stderr, "bench-net: cannot make a folder in %s\n", options.dir.c_str());
        return 1;
    }
    const std::string folder = std::filesystem::absolute(name.data()).string();
    const std::string ours = folder + "/service.bin", theirs = folder + "/curl.bin";
    const uintmax_t bigSize = options.mib << 20;
    std::error_code error;
    bool ok = true;

    const double baseline = IdleWakeupsPerSecond();  // the loop alone, before the service exists
    NetRequest net;
    net.Initialize();
    int owner = 0;

    // 1. The large download: DownloadFile (flushed per chunk, progress to the UI thread) against
    //    curl writing a file in the same folder.
    const std::string bigUrl = base + "/big.bin";
    bool withProgress = true;
    const auto serviceDownload = [&] {
        Counts counts;
        stDownloadRequest request;
        request.head.url = bigUrl.c_str();
        request.head.owner = &owner;
        request.head.userData = &counts;
        request.savePath = ours.c_str();
        request.binaryMode = 1;
        request.onResponse = &OnResponse;
        request.onProgress = withProgress ? &OnProgress : nullptr;
        request.onByteProgress = withProgress ? &OnBytes : nullptr;
        chunks = 0;
        const Timed timed = Measure([&] {
            net.DownloadFile(&request);
            PumpUntil([&] { return counts.finished == 1; });
            return counts.failed == 0;
        });
        const bool whole = std::filesystem::file_size(ours, error) == bigSize;
        std::filesystem::remove(ours, error);
        return whole ? timed : Timed{};
    };
    const auto curlDownload = [&] {
        const Timed timed = RunCommand("curl -s -o '" + theirs + "' '" + bigUrl + "'");
        const bool whole = std::filesystem::file_size(theirs, error) == bigSize;
        std::filesystem::remove(theirs, error);
        return whole ? timed : Timed{};
    };
    std::vector<Timed> service, curl;
    Interleave(options.runs, serviceDownload, curlDownload, service, curl);
    const std::string title = "download of " + std::to_string(options.mib) + " MiB to a file (" +
                              std::to_string(chunks) + " chunks, each reported twice on the UI thread)";
    ok &= Report(title.c_str(), "DownloadFile", "curl -o FILE", service, curl, true);
    // The same without progress callbacks: what the reports cost.
    withProgress = false;
    Interleave(options.runs, serviceDownload, curlDownload, service, curl);
    ok &= Report("the same without progress callbacks", "DownloadFile", "curl -o FILE", service, curl, true);

    // 2. Many small GETs: five workers against curl with five transfers at a time.
    std::vector<std::string> urls;
    for (int i = 0; i < options.gets; ++i) urls.push_back(base + "/small/" + std::to_string(i));
    const std::string config = folder + "/urls.txt";
    {
        std::ofstream out(config);
        for (const std::string& url : urls) out << "url = \"" << url << "\"\noutput = \"/dev/null\"\n";
    }
    const auto serviceGets = [&] {
        Counts counts;
        return Measure([&] {
            for (const std::string& url : urls) {
                stHttpRequest get;
                get.head.url = url.c_str();
                get.head.owner = &owner;
                get.head.userData = &counts;
                get.onResponse = &OnResponse;
                net.HttpGet(&get);
            }
            PumpUntil([&] { return counts.finished == static_cast<int>(urls.size()); });
            return counts.failed == 0;
        });
    };
    const auto curlGets = [&] { return RunCommand("curl -s --no-progress-meter --parallel --parallel-max 5 -K '" + config + "' 2>/dev/null"); };
    Interleave(options.runs, serviceGets, curlGets, service, curl);
    const std::string getsTitle = std::to_string(options.gets) + " small GETs";
    ok &= Report(getsTitle.c_str(), "HttpGet", "curl --parallel-max 5", service, curl, false);

    // 3. Idle: the service running with nothing to do.
    std::printf("idle wake-ups: %.1f per second, all threads (the UI loop alone, before the service: %.1f)\n",
                IdleWakeupsPerSecond(), baseline);

    // 4. Delivery delay: from the server's answer to the callback, one request at a time, with the
    //    UI thread asleep meanwhile; the same on the worker shows what the hop to the UI thread adds.
    const std::string stampUrl = base + "/stamp";
    const std::vector<double> onUi = Delays(net, stampUrl, true, options.latencySamples);
    const std::vector<double> onWorker = Delays(net, stampUrl, false, options.latencySamples);
    if (onUi.empty() || onWorker.empty()) {
        std::printf("delivery delay: requests failed\n");
        ok = false;
    } else {
        std::printf("delivery delay on the UI thread (%zu GETs): p50 %.0f us, p99 %.0f us; on the worker: p50 %.0f us, "
                    "p99 %.0f us; UI hop p50 %.0f us\n",
                    onUi.size(), Percentile(onUi, 0.5), Percentile(onUi, 0.99), Percentile(onWorker, 0.5),
                    Percentile(onWorker, 0.99), Percentile(onUi, 0.5) - Percentile(onWorker, 0.5));
    }

    net.Uninitialize();
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    std::filesystem::remove_all(folder, error);
    return ok ? 0 : 1;
}
