#pragma once
// Real pieces for the net tests: servers on 127.0.0.1, a recorder of the service's callbacks and
// the test thread's GLib loop as the UI thread.
#include <glib.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/x509.h>

#include <deque>
#include <set>

#include "TempFolder.h"
#include "TextConversion.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using namespace std::chrono;

// Waits for `done` (20 s at most), running the UI loop meanwhile unless `pump` is false.
inline bool Until(const std::function<bool()>& done, bool pump = true, int timeoutMs = 20000) {
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!done() && steady_clock::now() < deadline) {
        if (!pump || !g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(microseconds(500));
    }
    return done();
}

// A self-signed certificate for another name: passes only with both checks off.
inline std::unique_ptr<httplib::Server> TlsServer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("elsewhere.test"), -1, -1, 0);
    X509_set_issuer_name(cert, X509_get_subject_name(cert));
    X509_sign(cert, key, EVP_sha256());
    auto server = std::make_unique<httplib::SSLServer>(cert, key);  // keeps references of its own
    X509_free(cert);
    EVP_PKEY_free(key);
    return server;
}

// Serves from a thread of its own: /quick at once; /hold once released (HEAD probes at once);
// /answer?status=N&body=B so (302 leads to /quick); /stream?kib=N N KiB (default 10 MiB), one
// every 2 ms, without announcing a length. `routes` adds more.
struct Server {
    explicit Server(const std::function<void(httplib::Server&)>& routes = {}, bool tls = false)
        : http(tls ? TlsServer() : std::make_unique<httplib::Server>()) {
        http->new_task_queue = [] { return new httplib::ThreadPool(32); };  // the server owns it
        http->Get("/quick", [](const httplib::Request&, httplib::Response& r) { r.set_content("quick", "text/plain"); });
        http->Get("/hold", [this](const httplib::Request& request, httplib::Response&) {
            if (request.method != "HEAD") Hold();
        });
        http->Get("/answer", [](const httplib::Request& request, httplib::Response& response) {
            response.status = std::stoi(request.get_param_value("status"));
            response.set_content(request.get_param_value("body"), "text/plain");
            if (response.status == 302) response.set_header("Location", "/quick");
        });
        http->Get("/stream", [this](const httplib::Request& request, httplib::Response& response) {
            streams += request.method != "HEAD";
            const size_t size = request.has_param("kib") ? std::stoul(request.get_param_value("kib")) << 10 : 10 << 20;
            response.set_chunked_content_provider("text/plain", [this, size](size_t offset, httplib::DataSink& sink) {
                std::this_thread::sleep_for(milliseconds(2));
                if (offset >= size) sink.done();
                if (offset >= size || sink.write(std::string(1024, 's').data(), 1024)) return true;
                ++streamsLeft;  // by the client
                return false;
            });
        });
        if (routes) routes(*http);
        port = http->bind_to_any_port("127.0.0.1");
        listener = std::thread([this] { http->listen_after_bind(); });
        // The library sets up lazy tables on its first request, out of ThreadSanitizer's sight; done
        // here, before concurrent requests, every handler thread reaches them through the pool's lock.
        httplib::Client warmUp(Url(""));
        warmUp.enable_server_certificate_verification(false);
        warmUp.Get("/quick");
    }
    ~Server() {
        released = true;
        http->stop();
        listener.join();
    }
    std::string Url(const std::string& path) const {
        return (dynamic_cast<httplib::SSLServer*>(http.get()) ? "https://127.0.0.1:" : "http://127.0.0.1:") +
               std::to_string(port) + path;
    }
    void Hold() {  // for handlers: counts in `held`, then waits for `released` (or 30 s)
        ++held;
        Until([this] { return released.load(); }, false, 30000);
    }

    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    int port = 0;
    std::atomic<int> held{0}, streams{0}, streamsLeft{0};
    std::atomic<bool> released{false};
};

// A service started on this thread.
struct Started : NetRequest {
    Started() { Initialize(); }
};

// One callback: kind 'R' response, 'P' fraction, 'B' bytes.
struct Event {
    char kind;
    int id, code;
    std::string message, url, text;
    double fraction;
    long long received, total;
    std::thread::id thread;
};

// Collects the callbacks of the requests made for it below; counts those of withdrawn ids as late.
struct Recorder {
    void Add(Event event) {
        event.thread = std::this_thread::get_id();
        {
            std::lock_guard<std::mutex> guard(lock);
            events.push_back(event);
            late += withdrawn.count(event.id);
        }
        if (onEvent) onEvent(event);
    }
    std::vector<Event> Events(int id = 0, char kind = 0) {  // 0: any
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Event> found;
        for (const Event& event : events) {
            if ((!id || event.id == id) && (!kind || event.kind == kind)) found.push_back(event);
        }
        return found;
    }
    size_t Responses() { return Events(0, 'R').size(); }
    std::set<int> Finished() {
        std::set<int> ids;
        for (const Event& event : Events(0, 'R')) ids.insert(event.id);
        return ids;
    }

    std::function<void(const Event&)> onEvent;  // runs inside the callback
    std::mutex lock;
    std::vector<Event> events;
    std::set<int> withdrawn;
    int late = 0;
};

inline const char* Keep(const std::string& text) {  // for the life of the process
    static std::mutex lock;
    static std::deque<std::string> kept;
    std::lock_guard<std::mutex> guard(lock);
    return kept.emplace_back(text).c_str();
}

inline stHttpRequest Http(const std::string& url, Recorder& recorder, void* owner = nullptr) {
    stHttpRequest request;
    request.head.url = Keep(url);
    request.head.owner = owner ? owner : &recorder;
    request.head.userData = &recorder;
    request.onResponse = [](const stResponseInfo& i, const char* text) {
        static_cast<Recorder*>(i.userData)->Add({'R', i.id, i.errorCode, i.errorMsg, i.url, text, 0, 0, 0, {}});
    };
    return request;
}

inline stDownloadRequest Download(const std::string& url, const std::string& path, Recorder& recorder,
                                  void* owner = nullptr) {
    stDownloadRequest request;
    const stHttpRequest http = Http(url, recorder, owner);
    request.head = http.head;
    request.savePath = Keep(path);
    request.onResponse = http.onResponse;
    request.onProgress = [](int id, double fraction, void* recorder) {
        static_cast<Recorder*>(recorder)->Add({'P', id, 0, "", "", "", fraction, 0, 0, {}});
    };
    request.onByteProgress = [](int id, long long received, long long total, void* recorder) {
        static_cast<Recorder*>(recorder)->Add({'B', id, 0, "", "", "", 0, received, total, {}});
    };
    return request;
}
