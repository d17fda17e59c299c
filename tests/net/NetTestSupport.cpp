#include "NetTestSupport.h"

#include <arpa/inet.h>
#include <glib.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <deque>

namespace nettest {

using namespace std::chrono;

namespace {

// Request records point at text that must outlive them; tests' strings are kept here.
const char* Keep(const std::string& text) {
    static std::mutex lock;
    static std::deque<std::string> kept;
    std::lock_guard<std::mutex> guard(lock);
    return kept.emplace_back(text).c_str();
}

std::unique_ptr<httplib::Server> MakeTlsServer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("elsewhere.test"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    auto server = std::make_unique<httplib::SSLServer>(cert, key);  // takes references of its own
    X509_free(cert);
    EVP_PKEY_free(key);
    return server;
}

}  // namespace

Gate::~Gate() {
    Open();
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [this] { return inside == 0; });
}

void Gate::Pass() {
    std::unique_lock<std::mutex> guard(lock);
    ++arrivals;
    ++inside;
    changed.notify_all();
    changed.wait_for(guard, seconds(30), [this] { return open; });
    --inside;
    changed.notify_all();
}

void Gate::Open() {
    std::lock_guard<std::mutex> guard(lock);
    open = true;
    changed.notify_all();
}

bool Gate::WaitArrivals(int count, int timeoutMs) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, milliseconds(timeoutMs), [&] { return arrivals >= count; });
}

int Gate::Arrivals() {
    std::lock_guard<std::mutex> guard(lock);
    return arrivals;
}

LocalServer::LocalServer(bool tls) : server(tls ? MakeTlsServer() : std::make_unique<httplib::Server>()), tls(tls) {
    // Plenty of handler threads: tests hold several requests at once.
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };
}

LocalServer::~LocalServer() {
    gate.Open();
    server->stop();
    if (listener.joinable()) listener.join();
}

void LocalServer::Start() {
    // Listening from here on: connections wait in the backlog until the loop accepts them.
    port = server->bind_to_any_port("127.0.0.1");
    listener = std::thread([this] { server->listen_after_bind(); });
    // One request before any concurrent ones: the library sets up its lazy tables on the first
    // request, out of ThreadSanitizer's sight (it is not instrumented); afterwards every handler
    // thread reaches them through the pool's lock.
    httplib::Client warmUp(Url(""));
    warmUp.enable_server_certificate_verification(false);
    warmUp.Get("/");
}

std::string LocalServer::Url(const std::string& path) const {
    return (tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port) + path;
}

int UnusedPort() {
    const int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(sock, reinterpret_cast<sockaddr*>(&address), size);
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size);
    close(sock);
    return ntohs(address.sin_port);
}

void Recorder::OnResponse(const LiveModule::stResponseInfo& info, const char* text) {
    Event event('R', info.id);
    event.code = info.errorCode;
    event.message = info.errorMsg;
    event.url = info.url;
    event.text = text;
    static_cast<Recorder*>(info.userData)->Add(std::move(event));
}

void Recorder::OnFraction(int id, double fraction, void* userData) {
    Event event('P', id);
    event.fraction = fraction;
    static_cast<Recorder*>(userData)->Add(std::move(event));
}

void Recorder::OnBytes(int id, long long received, long long total, void* userData) {
    Event event('B', id);
    event.received = received;
    event.total = total;
    static_cast<Recorder*>(userData)->Add(std::move(event));
}

void Recorder::Add(Event event) {
    event.thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
    }
    if (onEvent) onEvent(event);
}

std::vector<Event> Recorder::Events() {
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

std::vector<Event> Recorder::Of(int id, char kind) {
    std::vector<Event> found;
    for (const Event& event : Events()) {
        if (event.id == id && event.kind == kind) found.push_back(event);
    }
    return found;
}

size_t Recorder::Responses() {
    std::lock_guard<std::mutex> guard(lock);
    size_t count = 0;
    for (const Event& event : events) count += event.kind == 'R';
    return count;
}

bool Recorder::WaitResponses(size_t count, int timeoutMs) {
    return PumpUntil([&] { return Responses() >= count; }, timeoutMs);
}

LiveModule::stHttpRequest HttpRequest(const std::string& url, Recorder& recorder, void* owner) {
    LiveModule::stHttpRequest request;
    request.head.url = Keep(url);
    request.head.owner = owner ? owner : &recorder;
    request.head.userData = &recorder;
    request.onResponse = &Recorder::OnResponse;
    return request;
}

LiveModule::stDownloadRequest DownloadRequest(const std::string& url, const std::string& savePath,
                                              Recorder& recorder, void* owner) {
    LiveModule::stDownloadRequest request;
    request.head.url = Keep(url);
    request.head.owner = owner ? owner : &recorder;
    request.head.userData = &recorder;
    request.savePath = Keep(savePath);
    request.onResponse = &Recorder::OnResponse;
    request.onProgress = &Recorder::OnFraction;
    request.onByteProgress = &Recorder::OnBytes;
    return request;
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    GMainContext* context = g_main_context_ref_thread_default();
    bool reached = done();
    while (!reached && steady_clock::now() < deadline) {
        if (!g_main_context_iteration(context, FALSE)) g_usleep(500);
        reached = done();
    }
    g_main_context_unref(context);
    return reached;
}

void PumpFor(int milliseconds) {
    PumpUntil([] { return false; }, milliseconds);
}

bool WaitWithoutUi(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!done() && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
    return done();
}

bool Exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace nettest
