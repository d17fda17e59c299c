#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "net_request/HandlePool.h"

namespace LiveModule {

// What one transfer ended with.
struct HttpResponse {
    long status = 0;   // status of the last answer; 0 when no answer arrived
    int error = 0;     // transfer error number (TransferErrorNumber), 0 when the transfer completed
    std::string body;  // collected by Get and Post
};

// One HTTP client session for one request on one thread, over a transfer borrowed from the pool:
// no option carries over to the next request, but open connections, the DNS cache and TLS sessions
// do. Redirects are followed (at most 50), signals are never used, every request says
// "User-Agent: curl/<libcurl version>" (unless a header of the caller says otherwise) and accepts
// every content encoding libcurl can decode; bodies come decoded.
class HttpSession {
public:
    explicit HttpSession(HandlePool& pool);
    ~HttpSession();  // returns the transfer to the pool
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Sets up the transfer library for the whole process; idempotent and thread-safe. Sessions
    // call it themselves, and the service calls it before it starts any thread.
    static void InitializeLibrary();

    void SetUrl(const std::string& url);
    // Names compare without regard to case: a later value replaces an earlier one.
    void SetHeader(const std::string& name, const std::string& value);
    void SetTimeoutMs(int64_t milliseconds);         // whole transfer; 0 means no limit
    void SetConnectTimeoutMs(int64_t milliseconds);  // connecting only
    // Every TLS option of a request is set here: the peer certificate and host name checks, against
    // `caBundle` (a PEM file) or the system's store when it is empty.
    void SetVerifySsl(bool verify);
    void SetTlsTrust(bool verify, const std::string& caBundle);
    void SetBody(const std::string& body);           // copied; Post sends it with its length
    // Asked whenever the transfer wakes: after network activity, at least once a second, and at
    // once after HandlePool::WakeAll. False aborts the transfer (REQUEST_CANCELLED).
    void SetAbortCheck(std::function<bool()> keepGoing);
    // Asked before each wait: the longest the transfer may sleep (ms) before it asks the abort
    // check again; at most a second.
    void SetWaitLimit(std::function<int()> limitMs);

    HttpResponse Get();
    HttpResponse Post();
    // The announced body length from a HEAD request: -1 when the request failed, its status was
    // not exactly 200, or the server announced no length.
    int64_t GetDownloadFileLength();
    // A GET that hands every received chunk of the body to `write`; false aborts the transfer.
    // Reads up to 512 KiB at a time; libcurl hands the data on in pieces of at most 16 KiB.
    HttpResponse Download(const std::function<bool(const char* data, size_t size)>& write);

private:
    HttpResponse Perform(const std::function<bool(const char*, size_t)>* write);
    CURLcode Drive();  // runs the transfer through its multi handle until done or aborted
    void ApplyHeaders();

    static size_t OnWrite(char* data, size_t size, size_t count, void* session);

    struct CaseInsensitiveLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };

    HandlePool& pool;
    std::unique_ptr<PooledTransfer> transfer;  // borrowed for the session's life
    CURL* curl = nullptr;                      // its easy handle; null when none could be made
    curl_slist* headerList = nullptr;          // handed to the handle; freed with the session
    std::map<std::string, std::string, CaseInsensitiveLess> headers;
    std::function<bool()> keepGoing;
    std::function<int()> waitLimit;
    const std::function<bool(const char*, size_t)>* writer = nullptr;  // during Download only
    std::string body;                         // received body of Get and Post
};

// The transfer error number of a libcurl result: 0 for success, 1..17 as the error names are
// numbered (ErrorCodeName), 4 (INTERNAL_ERROR) for any result without a number of its own.
int TransferErrorNumber(int curlCode);

// The number of a transfer that hit its time limit (OPERATION_TIMEDOUT).
constexpr int kTransferTimedOut = 8;

}  // namespace LiveModule
