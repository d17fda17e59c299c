#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "LiveModule/INetRequest.h"

// The caller's side of INetRequest for code that works with strings, vectors and std::function:
// it builds the packed records, keeps the callbacks of each request in a context and turns the
// packed results back into records with owned strings.
namespace LiveModule {

class RequestClient;

// Result of a GET or POST.
struct RequestFinishedRes {
    int32_t id = -1;
    int32_t errorCode = -1001;
    bool isAsync = true;
    std::string url;
    std::string errorMsg;  // code page 936 for the service's messages
    std::string body;
};

// Result of a download (or an upload).
struct FileOperationRes {
    int32_t id = -1;
    int32_t errorCode = -1001;
    bool isAsync = true;
    std::string url;
    std::string errorMsg;
    std::string path;  // the savePath of the download
};

struct HttpRequestParams {
    std::string url;
    int32_t timeoutMs = 3000;
    bool isAsync = true;
    bool callbackOnUiThread = true;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, std::string>> queryParams;
    std::vector<std::pair<std::string, std::string>> formFields;
    std::function<void(const RequestFinishedRes&)> onFinished;
};

struct DownloadRequestParams {
    std::string url;
    int32_t timeoutMs = 3000;  // connecting
    bool isAsync = true;
    bool callbackOnUiThread = true;
    bool overwrite = true;
    std::string savePath;  // UTF-8
    uint32_t binaryMode = 0;
    uint32_t transferTimeoutSec = 3600;
    std::function<void(const FileOperationRes&)> onFinished;
    std::function<void(int id, double fraction)> onProgress;
    std::function<void(int id, long long received, long long total)> onByteProgress;
};

struct UploadRequestParams {
    std::string url;
    int32_t timeoutMs = 3000;
    bool isAsync = true;
    bool callbackOnUiThread = true;
    std::string filePath;
    uint32_t transferTimeoutSec = 3600;
    uint32_t reserved = 0;
    std::function<void(const FileOperationRes&)> onFinished;
    std::function<void(int id, double fraction)> onProgress;
    std::function<void(int id, long long received, long long total)> onByteProgress;
};

// The callbacks of one submitted request; the request's userData points at it.
struct RequestContext {
    RequestClient* client = nullptr;
    std::function<void(const RequestFinishedRes&)> onFinished;
    std::function<void(const FileOperationRes&)> onFileFinished;
    std::function<void(int, double)> onProgress;
    std::function<void(int, long long, long long)> onByteProgress;
    // Its key in `pending` while the submitting call runs (negative); set before the request can call back.
    int32_t provisionalKey = 0;
};

// Submissions return the request id, -1 when the service refuses, -1001 without a service.
// Results come where the service delivers them: on the UI thread (callbackOnUiThread), on a worker
// or, for synchronous requests, inside the submitting call. Any thread, and any callback, may
// submit, Cancel and CancelAll; a callback may withdraw its own request, and then runs to its end
// with its functions intact.
class RequestClient {
public:
    RequestClient(INetRequest* net, void* owner);
    ~RequestClient();  // withdraws everything of its owner
    RequestClient(const RequestClient&) = delete;
    RequestClient& operator=(const RequestClient&) = delete;

    int32_t Get(const HttpRequestParams& params);
    int32_t Post(const HttpRequestParams& params);
    int32_t Download(const DownloadRequestParams& params);
    int32_t Upload(const UploadRequestParams& params);  // the service has no uploads: always fails
    // After these return, no callback of the withdrawn requests starts and their contexts are freed.
    void Cancel(int32_t id);
    void CancelAll();

private:
    template <class Record, class Params>
    std::unique_ptr<RequestContext> FileContext(Record& record, const Params& params);
    template <class Record>
    int32_t Submit(Record& record, std::unique_ptr<RequestContext> context, bool isAsync,
                   int32_t (INetRequest::*operation)(const Record*));
    int32_t SubmitHttp(const HttpRequestParams& params, int32_t (INetRequest::*operation)(const stHttpRequest*));
    // The entry of a request's context in `pending` (under its id, or its provisional key while the
    // submission runs); end() when it was withdrawn or finished. Under `lock`.
    using Pending = std::map<int32_t, std::shared_ptr<RequestContext>>;
    Pending::iterator Find(int32_t id, const RequestContext* context);
    // A share of the context for a callback about to run: it stays alive, even if the callback
    // withdraws its own request, until the callback returns. Null when withdrawn or finished;
    // `finish` also takes it out of `pending`.
    std::shared_ptr<RequestContext> Hold(int32_t id, const RequestContext* context, bool finish);

    template <class Result>
    static void Finish(const stResponseInfo& info, const char* text, std::string Result::*textField,
                       std::function<void(const Result&)> RequestContext::*onResult);
    static void OnHttpResponse(const stResponseInfo& info, const char* text);
    static void OnFileResponse(const stResponseInfo& info, const char* text);
    static void OnProgressReport(int id, double fraction, void* userData);
    static void OnByteProgressReport(int id, long long received, long long total, void* userData);

    INetRequest* const net;  // not owned
    void* const owner;

    // Guards pending and nextProvisionalKey. Held only briefly: never while calling the service
    // or a caller's function. The service may hold one of its kind locks while this is taken.
    std::mutex lock;
    // Contexts of requests that may still call back. A context is entered under a provisional
    // negative key before its request is submitted, so even a result delivered on a worker before
    // the submitting call returns finds it; once the id is known it moves under the id. A callback
    // runs with a share of its context, taken under the lock; Cancel and CancelAll drop theirs only
    // after the service has withdrawn the request, so a context ends with its last running callback.
    Pending pending;
    int32_t nextProvisionalKey = -2;
};

}  // namespace LiveModule
