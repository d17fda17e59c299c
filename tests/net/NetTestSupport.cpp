#include "NetTestSupport.h"

#include <glib.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <deque>

namespace nettest {

using namespace std::chrono;

namespace {

const char* Keep(const std::string& text) {
    static std::mutex lock;
    static std::deque<std::string> kept;
    std::lock_guard<std::mutex> guard(lock);
    return kept.emplace_back(text).c_str();
}

std::unique_ptr<httplib::Server> TlsServer() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
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

}  // namespace

Server::Server(bool tls) : http(tls ? TlsServer() : std::make_unique<httplib::Server>()) {
    http->new_task_queue = [] { return new httplib::ThreadPool(32); };  // the server owns it
}

Server::~Server() {
    released = true;
    http->stop();
    if (listener.joinable()) listener.join();
}

void Server::Start() {
    port = http->bind_to_any_port("127.0.0.1");
    listener = std::thread([this] { http->listen_after_bind(); });
    // The library sets up lazy tables on its first request, out of ThreadSanitizer's sight; done
    // here, before concurrent requests, every handler thread reaches them through the pool's lock.
    httplib::Client warmUp(Url(""));
    warmUp.enable_server_certificate_verification(false);
    warmUp.Get("/");
}

std::string Server::Url(const std::string& path) const {
    return (dynamic_cast<httplib::SSLServer*>(http.get()) ? "https://127.0.0.1:" : "http://127.0.0.1:") +
           std::to_string(port) + path;
}

void Server::Hold() {
    ++held;
    const auto deadline = steady_clock::now() + seconds(30);
    while (!released && steady_clock::now() < deadline) std::this_thread::sleep_for(milliseconds(1));
}

bool Until(const std::function<bool()>& done, bool pump, int timeoutMs) {
    const auto deadline = steady_clock::now() + milliseconds(timeoutMs);
    while (!done() && steady_clock::now() < deadline) {
        if (!pump || !g_main_context_iteration(nullptr, FALSE)) std::this_thread::sleep_for(microseconds(500));
    }
    return done();
}

std::string NowhereUrl() {
    Server probe;
    probe.Start();
    return probe.Url("/");  // nobody listens there once the probe is gone
}

void Recorder::OnResponse(const LiveModule::stResponseInfo& info, const char* text) {
    static_cast<Recorder*>(info.userData)->Add({'R', info.id, info.errorCode, info.errorMsg, info.url, text, 0, 0, 0, {}});
}

void Recorder::OnFraction(int id, double fraction, void* userData) {
    static_cast<Recorder*>(userData)->Add({'P', id, 0, "", "", "", fraction, 0, 0, {}});
}

void Recorder::OnBytes(int id, long long received, long long total, void* userData) {
    static_cast<Recorder*>(userData)->Add({'B', id, 0, "", "", "", 0, received, total, {}});
}

void Recorder::Add(Event event) {
    event.thread = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
    }
    if (onEvent) onEvent(event);
}

std::vector<Event> Recorder::Events(int id, char kind) {
    std::lock_guard<std::mutex> guard(lock);
    std::vector<Event> found;
    for (const Event& event : events) {
        if ((!id || event.id == id) && (!kind || event.kind == kind)) found.push_back(event);
    }
    return found;
}

LiveModule::stHttpRequest Http(const std::string& url, Recorder& recorder, void* owner) {
    LiveModule::stHttpRequest request;
    request.head.url = Keep(url);
    request.head.owner = owner ? owner : &recorder;
    request.head.userData = &recorder;
    request.onResponse = &Recorder::OnResponse;
    return request;
}

LiveModule::stDownloadRequest Download(const std::string& url, const std::string& path, Recorder& recorder,
                                       void* owner) {
    LiveModule::stDownloadRequest request;
    request.head = Http(url, recorder, owner).head;
    request.savePath = Keep(path);
    request.onResponse = &Recorder::OnResponse;
    request.onProgress = &Recorder::OnFraction;
    request.onByteProgress = &Recorder::OnBytes;
    return request;
}

}  // namespace nettest
