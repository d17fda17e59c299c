#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LiveModule/INetRequest.h"

// Real pieces for the net tests: servers on 127.0.0.1, a recorder of the service's callbacks and
// the test thread's GLib loop as the UI thread.
namespace nettest {

// Serves the routes set on http() from a thread of its own, on a free port.
struct Server {
    explicit Server(bool tls = false);  // tls: a self-signed certificate for another name
    ~Server();                          // releases held handlers, then stops
    void Start();
    std::string Url(const std::string& path) const;
    void Hold();  // for handlers: counts in `held`, then waits for `released` (or 30 s)

    std::unique_ptr<httplib::Server> http;
    std::thread listener;
    int port = 0;
    std::atomic<int> held{0};
    std::atomic<bool> released{false};
};

// Waits for `done` (20 s at most), running the UI loop meanwhile unless `pump` is false.
bool Until(const std::function<bool()>& done, bool pump = true, int timeoutMs = 20000);
std::string NowhereUrl();  // a port on 127.0.0.1 that nobody listens on

// One callback: kind 'R' response, 'P' fraction, 'B' bytes.
struct Event {
    char kind;
    int id, code;
    std::string message, url, text;
    double fraction;
    long long received, total;
    std::thread::id thread;
};

// Collects callbacks; requests made by the functions below hand it over as userData.
struct Recorder {
    static void OnResponse(const LiveModule::stResponseInfo& info, const char* text);
    static void OnFraction(int id, double fraction, void* userData);
    static void OnBytes(int id, long long received, long long total, void* userData);
    void Add(Event event);
    std::vector<Event> Events(int id = 0, char kind = 0);  // 0: any
    size_t Responses() { return Events(0, 'R').size(); }

    std::function<void(const Event&)> onEvent;  // runs inside the callback
    std::mutex lock;
    std::vector<Event> events;
};

// Requests whose callbacks go to `recorder` (on the UI thread); the texts are kept for them.
LiveModule::stHttpRequest Http(const std::string& url, Recorder& recorder, void* owner = nullptr);
LiveModule::stDownloadRequest Download(const std::string& url, const std::string& path, Recorder& recorder,
                                       void* owner = nullptr);

}  // namespace nettest
