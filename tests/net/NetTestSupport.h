#pragma once

#include <httplib.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LiveModule/INetRequest.h"

// Real pieces for the net tests: HTTP(S) servers on 127.0.0.1, a gate that holds server handlers,
// a recorder for the service's callbacks and the test thread's GLib loop as the UI thread.
namespace nettest {

// Handlers that call Pass() wait until Open() (or a generous deadline); tests count who waits.
class Gate {
public:
    ~Gate();
    void Pass();
    void Open();
    bool WaitArrivals(int count, int timeoutMs = 20000);
    int Arrivals();

private:
    std::mutex lock;
    std::condition_variable changed;
    int arrivals = 0, inside = 0;
    bool open = false;
};

// Serves the routes a test sets on http() from a thread of its own, on a free port.
class LocalServer {
public:
    explicit LocalServer(bool tls = false);  // tls: a self-signed certificate made right now
    ~LocalServer();                          // opens the gate, then stops
    httplib::Server& http() { return *server; }
    void Start();
    std::string Url(const std::string& path) const;
    Gate gate;

private:
    std::unique_ptr<httplib::Server> server;
    std::thread listener;
    int port = 0;
    bool tls;
};

// A port on 127.0.0.1 with nobody listening.
int UnusedPort();

// One callback as the service delivered it. kind: 'R' response, 'P' fraction, 'B' bytes.
struct Event {
    Event(char kind, int id) : kind(kind), id(id) {}
    char kind;
    int id;
    int code = 0;
    std::string message, url, text;
    double fraction = 0;
    long long received = 0, total = 0;
    std::thread::id thread;
};

// Collects callbacks; pass its address as userData and its functions as the callbacks.
class Recorder {
public:
    static void OnResponse(const LiveModule::stResponseInfo& info, const char* text);
    static void OnFraction(int id, double fraction, void* userData);
    static void OnBytes(int id, long long received, long long total, void* userData);

    std::vector<Event> Events();
    std::vector<Event> Of(int id, char kind);
    size_t Responses();
    // Pumps the UI loop until `count` responses arrived.
    bool WaitResponses(size_t count, int timeoutMs = 20000);
    std::function<void(const Event&)> onEvent;  // runs inside the callback, set before use

private:
    void Add(Event event);
    std::mutex lock;
    std::vector<Event> events;
};

// Requests filled in for the recorder; callbacks on the UI thread unless changed.
LiveModule::stHttpRequest HttpRequest(const std::string& url, Recorder& recorder, void* owner = nullptr);
LiveModule::stDownloadRequest DownloadRequest(const std::string& url, const std::string& savePath,
                                              Recorder& recorder, void* owner = nullptr);

// Runs the test thread's main context, the UI loop of these tests.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 20000);
void PumpFor(int milliseconds);
// Waits with the UI loop left alone, so no UI-thread task runs meanwhile.
bool WaitWithoutUi(const std::function<bool()>& done, int timeoutMs = 20000);

bool Exists(const std::string& path);

}  // namespace nettest
