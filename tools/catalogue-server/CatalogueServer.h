#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <httplib.h>

namespace LiveModule::tools {

// Ways the server misbehaves on purpose, for tests and demonstrations.
struct ServerFaults {
    int catalogueStatus = 200;      // status of the catalogue answer
    int catalogueDelayMs = 0;       // wait before answering the catalogue query
    bool catalogueOverride = false; // answer the catalogue with catalogueBody instead of the manifest
    std::string catalogueBody;
    bool truncateCatalogue = false; // announce the whole catalogue, send half, close
    int packageStatus = 200;        // status of package answers
    int packageDelayMs = 0;         // wait before a package answer
    int packageChunkDelayMs = 0;    // wait between package chunks of 16 KiB (slow transfers)
    bool truncatePackages = false;  // announce the whole package, send half, close
    bool gzipAnswers = false;       // every answer gzip-compressed, whatever the client accepts
};

// Serves the module catalogue ("orbit/pcPlugin/getPlugins") from a manifest and the packages
// ("packages/<file>") from a folder, on 127.0.0.1. The manifest is the catalogue answer itself; the
// text "{base}" in it is replaced with the server's own base URL ("http://127.0.0.1:<port>/"), so
// "pfile": "{base}packages/abc.zip" points at this server. A manifest file is read again on every
// query, so a newer module is published by rewriting it.
class CatalogueServer {
public:
    CatalogueServer(int port, std::string packagesDir);
    ~CatalogueServer();
    CatalogueServer(const CatalogueServer&) = delete;
    CatalogueServer& operator=(const CatalogueServer&) = delete;

    // Binds and starts serving on a thread of its own; false when the port cannot be bound.
    bool Start();
    void Stop();

    void SetManifestText(const std::string& text);  // served as given (after "{base}")
    void SetManifestFile(const std::string& path);  // read on every query
    void SetFaults(const ServerFaults& faults);

    std::string BaseUrl() const;
    int Port() const { return port; }
    int CatalogueRequests() const { return catalogueRequests; }
    int PackageRequests(const std::string& file) const;
    int TotalPackageRequests() const;
    int MaxConcurrentPackages() const { return maxConcurrentPackages; }
    std::string LastUserAgent() const;  // of the latest catalogue query or package request
    int ConcurrentPackages() const { return concurrentPackages; }

private:
    std::string CatalogueText() const;
    void ServeCatalogue(const httplib::Request& request, httplib::Response& response);
    void ServePackage(const httplib::Request& request, httplib::Response& response);

    const int port;
    const std::string packagesDir;
    std::unique_ptr<httplib::Server> server;
    std::thread listener;

    mutable std::mutex lock;             // guards the members below it
    std::string manifestText;
    std::string manifestFile;
    ServerFaults faults;
    std::map<std::string, int> packageRequests;
    std::string lastUserAgent;

    std::atomic<int> catalogueRequests{0};
    std::atomic<int> concurrentPackages{0};
    std::atomic<int> maxConcurrentPackages{0};
};

}  // namespace LiveModule::tools
