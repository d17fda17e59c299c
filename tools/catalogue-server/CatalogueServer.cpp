#include "CatalogueServer.h"

#ifndef _WIN32
#include <sys/socket.h>
#endif
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

namespace LiveModule::tools {

namespace {

constexpr size_t kChunk = 16384;

std::string ReadWholeFile(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void Wait(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// Announces `body` in full but sends only its first half, then drops the connection.
void SendTruncated(httplib::Response& response, std::string body, const char* type) {
    const size_t length = body.size();
    auto shared = std::make_shared<std::string>(std::move(body));
    response.set_content_provider(length, type, [shared](size_t offset, size_t, httplib::DataSink& sink) {
        const size_t half = shared->size() / 2;
        if (offset < half) sink.write(shared->data() + offset, half - offset);
        return false;
    });
}

// The gzip form of `text` (windowBits 31: deflate inside a gzip wrapper).
std::string Gzip(const std::string& text) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) != Z_OK) return text;
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Sends `body` gzip-compressed. The type is one httplib never compresses again on its own.
void SendGzipped(httplib::Response& response, const std::string& body) {
    response.set_header("Content-Encoding", "gzip");
    response.set_content(Gzip(body), "application/octet-stream");
}

}  // namespace

CatalogueServer::CatalogueServer(int port, std::string packagesDir)
    : port(port), packagesDir(std::move(packagesDir)), server(std::make_unique<httplib::Server>()) {
    // Enough workers that concurrent downloads and probes never wait for one another.
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };  // httplib takes ownership
#ifndef _WIN32
    // Not httplib's default SO_REUSEPORT: a second server on a port in use must fail to start rather
    // than silently share the port's connections. (On Windows httplib's default is already exclusive.)
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
#endif
    server->Get("/orbit/pcPlugin/getPlugins", [this](const httplib::Request& request, httplib::Response& response) {
        ServeCatalogue(request, response);
    });
    server->Get(R"(/packages/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        ServePackage(request, response);
    });
}

CatalogueServer::~CatalogueServer() {
    Stop();
}

bool CatalogueServer::Start() {
    // Bound and listening from here: connections wait in the backlog until the loop accepts them.
    if (!server->bind_to_port("127.0.0.1", port)) return false;
    listener = std::thread([this] { server->listen_after_bind(); });
    // stop() is a no-op until the accept loop runs, so a Stop right after Start must not come earlier.
    while (!server->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void CatalogueServer::Stop() {
    if (!listener.joinable()) return;
    server->stop();
    listener.join();
}

void CatalogueServer::SetManifestText(const std::string& text) {
    std::lock_guard<std::mutex> guard(lock);
    manifestText = text;
    manifestFile.clear();
}

void CatalogueServer::SetManifestFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock);
    manifestFile = path;
}

void CatalogueServer::SetFaults(const ServerFaults& newFaults) {
    std::lock_guard<std::mutex> guard(lock);
    faults = newFaults;
}

std::string CatalogueServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

int CatalogueServer::PackageRequests(const std::string& file) const {
    std::lock_guard<std::mutex> guard(lock);
    auto it = packageRequests.find(file);
    return it == packageRequests.end() ? 0 : it->second;
}

std::string CatalogueServer::LastUserAgent() const {
    std::lock_guard<std::mutex> guard(lock);
    return lastUserAgent;
}

int CatalogueServer::TotalPackageRequests() const {
    std::lock_guard<std::mutex> guard(lock);
    int total = 0;
    for (const auto& [file, count] : packageRequests) total += count;
    return total;
}

std::string CatalogueServer::CatalogueText() const {
    std::string text;
    {
        std::lock_guard<std::mutex> guard(lock);
        text = manifestText;
        if (!manifestFile.empty()) {
            bool ok = false;
            text = ReadWholeFile(manifestFile, ok);
        }
    }
    const std::string base = BaseUrl();
    for (size_t at = text.find("{base}"); at != std::string::npos; at = text.find("{base}", at + base.size())) {
        text.replace(at, 6, base);
    }
    return text;
}

void CatalogueServer::ServeCatalogue(const httplib::Request& request, httplib::Response& response) {
    ++catalogueRequests;
    ServerFaults now;
    {
        std::lock_guard<std::mutex> guard(lock);
        now = faults;
        lastUserAgent = request.get_header_value("User-Agent");
    }
    Wait(now.catalogueDelayMs);
    std::string body = now.catalogueOverride ? now.catalogueBody : CatalogueText();
    response.status = now.catalogueStatus;
    if (now.truncateCatalogue) {
        SendTruncated(response, std::move(body), "application/json");
        return;
    }
    if (now.gzipAnswers) return SendGzipped(response, body);
    response.set_content(body, "application/json");
}

void CatalogueServer::ServePackage(const httplib::Request& request, httplib::Response& response) {
    const std::string file = request.matches[1];
    ServerFaults now;
    {
        std::lock_guard<std::mutex> guard(lock);
        now = faults;
        lastUserAgent = request.get_header_value("User-Agent");
        // The length probe is a HEAD request; only transfers count as downloads.
        if (request.method == "GET") ++packageRequests[file];
    }
    bool ok = false;
    std::string body = ReadWholeFile(packagesDir + "/" + file, ok);
    if (!ok || file.find("..") != std::string::npos) {
        response.status = 404;
        return;
    }
    Wait(now.packageDelayMs);
    response.status = now.packageStatus;
    if (now.truncatePackages) {
        SendTruncated(response, std::move(body), "application/zip");
        return;
    }
    if (now.gzipAnswers) return SendGzipped(response, body);
    const bool counted = request.method == "GET";
    if (counted) {
        int current = ++concurrentPackages;
        int seen = maxConcurrentPackages.load();
        while (current > seen && !maxConcurrentPackages.compare_exchange_weak(seen, current)) {
        }
    }
    auto shared = std::make_shared<std::string>(std::move(body));
    const int chunkDelay = now.packageChunkDelayMs;
    response.set_content_provider(
        shared->size(), "application/zip",
        [shared, chunkDelay](size_t offset, size_t, httplib::DataSink& sink) {
            Wait(chunkDelay);
            const size_t length = std::min(kChunk, shared->size() - offset);
            return sink.write(shared->data() + offset, length);
        },
        [this, counted](bool) {
            if (counted) --concurrentPackages;
        });
}

}  // namespace LiveModule::tools
