#pragma once
// Real pieces for the net tests: servers on 127.0.0.1, a recorder of the service's callbacks and
// the test thread's GLib loop as the UI thread.
#include <glib.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/x509.h>

#include <set>

#include "TestSupport.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace std::chrono;

// A temporary folder whose paths read as folder / "name".
struct NetFolder : lmtest::TempDir {
    std::string operator/(const std::string& relative) const { return path() + "/" + relative; }
};
inline std::string ReadFile(const std::string& path) {
    return lmtest::Exists(path) ? lmtest::ReadFile(path) : "<missing>";
}
using lmtest::WriteFile;

// Waits for `done` (20 s at most), running the UI loop meanwhile unless `pump` is false.
inline bool Until(const std::function<bool()>& done, bool pump = true, int timeoutMs = 20000) {
    for (const auto deadline = steady_clock::now() + milliseconds(timeoutMs); !done() && steady_clock::now() < deadline;)
        if (!pump || !g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(microseconds(500));
    return done();
}

// Runs body(0..n-1) on n threads while `meanwhile` runs here again and again until they are done.
inline void Concurrently(int n, const std::function<void(int)>& body, const std::function<void()>& meanwhile) {
    std::atomic<int> running{n};
    std::vector<std::thread> threads;
    for (int t = 0; t < n; ++t) threads.emplace_back([&, t] { body(t); --running; });
    while (running > 0) meanwhile();
    for (std::thread& thread : threads) thread.join();
}

// Serves from a thread of its own: /quick at once; /hold, counted in `held`, once `released` (30 s
// at most; HEAD probes at once); /answer?status=N&body=B so (302 leads to /quick); /stream?kib=N
// N KiB (10 MiB if not given), one every 2 ms, announcing no length. `routes` adds more; with `tls`
// it has a certificate of no name that signed itself. Without `keepAlive` every answer closes its
// connection: a server that ends before the service would otherwise wait for idle connections.
// `connections` counts the client ports seen.
struct Server {
    explicit Server(const std::function<void(httplib::Server&)>& routes = {}, bool tls = false, bool keepAlive = false) {
        http = std::make_unique<httplib::Server>();
        if (tls) {
            EVP_PKEY* key = EVP_EC_gen("P-256");
            X509* cert = X509_new();
            X509_gmtime_adj(X509_getm_notBefore(cert), 0);
            X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
            X509_set_pubkey(cert, key);
            X509_sign(cert, key, EVP_sha256());
            http = std::make_unique<httplib::SSLServer>(cert, key);  // keeps references of its own
            X509_free(cert);
            EVP_PKEY_free(key);
        }
        http->new_task_queue = [] { return new httplib::ThreadPool(32); };  // the server owns it
        http->set_keep_alive_max_count(keepAlive ? 100000 : 1);
        http->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
            std::lock_guard<std::mutex> guard(seenLock);
            ports.insert(request.remote_port);
            agents.insert(request.get_header_value("User-Agent") + " " + request.get_header_value("Accept-Encoding"));
            return httplib::Server::HandlerResponse::Unhandled;
        });
        http->Get("/quick", [](auto&, auto& response) { response.set_content("quick", "text/plain"); });
        http->Get("/hold", [this](auto& request, auto&) {
            if (request.method == "HEAD") return;
            ++held;
            Until([this] { return released.load(); }, false, 30000);
        });
        http->Get("/answer", [](auto& request, auto& response) {
            response.status = std::stoi(request.get_param_value("status"));
            response.set_content(request.get_param_value("body"), "text/plain");
            if (response.status == 302) response.set_header("Location", "/quick");
        });
        http->Get("/stream", [this](auto& request, auto& response) {
            streams += request.method != "HEAD";
            const size_t size = request.has_param("kib") ? std::stoul(request.get_param_value("kib")) << 10 : 10 << 20;
            response.set_chunked_content_provider("application/octet-stream", [this, size](size_t offset, httplib::DataSink& sink) {
                std::this_thread::sleep_for(milliseconds(2));
                if (offset >= size) sink.done();
                if (offset >= size || sink.write(std::string(1024, 's').data(), 1024)) return true;
                ++streamsLeft;  // the client left
                return false;
            });
        });
        if (routes) routes(*http);
        origin = (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(http->bind_to_any_port("127.0.0.1"));
        listener = std::thread([this] { http->listen_after_bind(); });
        // The library sets up lazy tables on its first request, out of ThreadSanitizer's sight; done
        // here, before concurrent requests, every handler thread reaches them through the pool's lock.
        httplib::Client(origin).Get("/quick");
        std::lock_guard<std::mutex> guard(seenLock);
        ports.clear();
        agents.clear();
    }
    ~Server() { released = true; http->stop(); listener.join(); }
    std::string Url(const std::string& path) const { return origin + path; }
    size_t Connections() {
        std::lock_guard<std::mutex> guard(seenLock);
        return ports.size();
    }
    std::set<std::string> Agents() {  // "<User-Agent> <Accept-Encoding>" of every request
        std::lock_guard<std::mutex> guard(seenLock);
        return agents;
    }

    std::unique_ptr<httplib::Server> http;
    std::string origin;
    std::thread listener;
    std::atomic<int> held{0}, streams{0}, streamsLeft{0};
    std::atomic<bool> released{false};
    std::mutex seenLock;
    std::set<int> ports;
    std::set<std::string> agents;
};

// Collects the callbacks of the requests made for it below as text: "R<code> <message>|<text>",
// "P<fraction>" or "B<received>/<total>". Counts those of withdrawn ids (0: all) as late and those
// off the thread that made it as away.
struct Recorder {
    void Add(int id, const std::string& report) {
        std::unique_lock<std::mutex> guard(lock);
        reports.emplace_back(id, report);
        late += withdrawn.count(id) + withdrawn.count(0);
        away += std::this_thread::get_id() != home;
        guard.unlock();
        if (onReport) onReport(report);
    }
    std::string Of(int id) {  // joined by spaces
        std::lock_guard<std::mutex> guard(lock);
        std::string joined;
        for (const auto& [of, report] : reports)
            if (of == id) joined += (joined.empty() ? "" : " ") + report;
        return joined;
    }
    std::multiset<int> Finished() {  // the ids of the responses
        std::lock_guard<std::mutex> guard(lock);
        std::multiset<int> ids;
        for (const auto& [id, report] : reports)
            if (report[0] == 'R') ids.insert(id);
        return ids;
    }
    const char* Keep(const std::string& text) {  // for the recorder's life
        std::lock_guard<std::mutex> guard(lock);
        return kept.insert(text).first->c_str();
    }

    std::function<void(const std::string&)> onReport;  // runs inside the callback
    std::mutex lock;
    std::vector<std::pair<int, std::string>> reports;
    std::set<std::string> kept;
    std::set<int> withdrawn;
    int late = 0, away = 0;
    const std::thread::id home = std::this_thread::get_id();
};

inline stHttpRequest Http(const std::string& url, Recorder& recorder, void* owner = nullptr) {
    return {{recorder.Keep(url), 3000, true, owner ? owner : &recorder, true, &recorder}, 78, {}, {}, {},
            [](const stResponseInfo& i, const char* text) {
                static_cast<Recorder*>(i.userData)->Add(i.id, "R" + std::to_string(i.errorCode) + " " + i.errorMsg + "|" + text);
            }};
}

inline stDownloadRequest Download(const std::string& url, const std::string& path, Recorder& to, void* owner = nullptr) {
    const stHttpRequest http = Http(url, to, owner);
    return {http.head, 75, true, 3600, 0, to.Keep(path), http.onResponse,
            [](int id, double f, void* r) { static_cast<Recorder*>(r)->Add(id, "P" + std::to_string(f)); },
            [](int id, long long got, long long of, void* r) {
                static_cast<Recorder*>(r)->Add(id, "B" + std::to_string(got) + "/" + std::to_string(of));
            }};
}

// A server, a recorder, a service started on this thread and a folder, in the order they must end.
struct Net : ::testing::Test {
    Net() { net.Initialize(); }
    Server server{{}, false, true};
    Recorder recorder;
    NetRequest net;
    NetFolder folder;
};
