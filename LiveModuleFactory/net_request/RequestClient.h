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
    int32_t provisionalKey = 0;  // its key in `pending` while the submitting call runs (negative)
};

// Submissions return the request id, -1 when the service refuses, -1001 without a service.
// Results come where the service delivers them: on the UI thread (callbackOnUiThread), on a worker
// (under the service's lock for that kind, so such a callback must not submit or withdraw requests
// of the same kind) or, for synchronous requests, inside the submitting call.
// Any thread may submit. Cancel and CancelAll may run on any thread for worker-delivered requests;
// for UI-delivered ones they belong on the UI thread, since a callback the UI thread has begun
// runs to its end while its context would be freed.
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
    // Takes the context of a finished request out of `pending`; null when it was withdrawn.
    std::unique_ptr<RequestContext> Claim(int32_t id, RequestContext* context);

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
    // Contexts of requests that may still call back, owned here. A context is entered under a
    // provisional negative key before its request is submitted, so even a result delivered on a
    // worker before the submitting call returns finds it; once the id is known it moves under the
    // id. Whoever takes a context out (its final callback, the submitter, Cancel, CancelAll)
    // frees it, and Cancel and CancelAll free only after the service has withdrawn the request.
    std::map<int32_t, std::unique_ptr<RequestContext>> pending;
    int32_t nextProvisionalKey = -2;
};

}  // namespace LiveModule
