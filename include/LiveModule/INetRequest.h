#pragma once

#include <cstddef>
#include <cstdint>

#include "ILiveModule.h"

// The net_request service as modules see it. Every record that crosses the module boundary is packed
// (no padding), made of numbers, flags, text pointers and plain function pointers, and carries its own
// size so that records built against an older, shorter layout stay valid. Text is UTF-8.
namespace LiveModule {

#pragma pack(push, 1)

// Result of one request, valid only during the callback that receives it.
struct stResponseInfo {
    int32_t id = -1;
    int32_t errorCode = 0;          // 0, -1001, -1002, -1003, -1005 or -1006
    bool isAsync = true;
    const char* errorMsg = nullptr; // code page 936 text for the service's own messages
    const char* url = nullptr;      // the URL as submitted, without the query built from queryParams
    void* userData = nullptr;
};

#pragma pack(pop)

// text: the response body for GET and POST (empty unless errorCode is 0), the savePath for downloads.
typedef void (*ResponseCallback)(const stResponseInfo& info, const char* text);
// fraction: received bytes / announced length (the negative received count when none was announced).
typedef void (*ProgressCallback)(int id, double fraction, void* userData);
// total: the announced length in bytes, or -1 when the server announced none.
typedef void (*ByteProgressCallback)(int id, long long received, long long total, void* userData);

#pragma pack(push, 1)

struct stRequestHead {
    const char* url = nullptr;       // required
    int32_t timeoutMs = 3000;        // GET/POST: whole request; download: connecting
    bool isAsync = true;             // false: run on the calling thread
    void* owner = nullptr;           // required; CancelOwnerRequests matches it
    bool callbackOnUiThread = true;  // asynchronous requests: true delivers on the host's UI thread
    void* userData = nullptr;        // handed back in every result and progress report
};

struct stKeyValue {
    const char* key = nullptr;
    const char* value = nullptr;
};

struct stKeyValueList {
    int32_t count = 0;
    const stKeyValue* items = nullptr;
};

struct stHttpRequest {
    stRequestHead head;
    uint32_t structSize = 78;
    stKeyValueList headers;
    stKeyValueList queryParams;
    stKeyValueList formFields;
    ResponseCallback onResponse = nullptr;
};

struct stDownloadRequest {
    stRequestHead head;
    uint32_t structSize = 75;
    bool overwrite = true;
    uint32_t transferTimeoutSec = 3600;
    uint32_t binaryMode = 0;
    const char* savePath = nullptr;  // required
    ResponseCallback onResponse = nullptr;
    ProgressCallback onProgress = nullptr;
    ByteProgressCallback onByteProgress = nullptr;
};

struct stUploadRequest {
    stRequestHead head;
    uint32_t structSize = 74;
    const char* filePath = nullptr;  // required
    uint32_t transferTimeoutSec = 3600;
    uint32_t reserved = 0;
    ResponseCallback onResponse = nullptr;
    ProgressCallback onProgress = nullptr;
    ByteProgressCallback onByteProgress = nullptr;
};

#pragma pack(pop)

// Submissions return the request id (positive) or -1 when the record is rejected or the service does
// not run. A synchronous request has called back before the call returns and yields -1 on failure.
// Callbacks delivered on a worker thread run under the service's lock: they must not submit or
// withdraw requests of the same kind.
class INetRequest {
public:
    virtual ~INetRequest() {}
    virtual int32_t HttpGet(const stHttpRequest* request) = 0;
    virtual int32_t HttpPost(const stHttpRequest* request) = 0;
    virtual int32_t DownloadFile(const stDownloadRequest* request) = 0;
    virtual int32_t UploadFile(const stUploadRequest* request) = 0;  // always -1: there is no upload worker
    virtual void CancelRequest(int32_t id) = 0;
    virtual void CancelOwnerRequests(void* owner) = 0;
};

// The INetRequest view of the module the factory returns for "net_request". That object implements
// ILiveModule first and INetRequest second; both are interfaces without data, so the second view
// sits one pointer after the first.
inline INetRequest* AsNetRequest(ILiveModule* netRequestModule) {
    if (!netRequestModule) return nullptr;
    return reinterpret_cast<INetRequest*>(reinterpret_cast<char*>(netRequestModule) + sizeof(void*));
}

// The layout is the contract: these hold on every compiler that builds a module.
static_assert(offsetof(stResponseInfo, id) == 0 && offsetof(stResponseInfo, errorCode) == 4 &&
              offsetof(stResponseInfo, isAsync) == 8 && offsetof(stResponseInfo, errorMsg) == 9 &&
              offsetof(stResponseInfo, url) == 17 && offsetof(stResponseInfo, userData) == 25 &&
              sizeof(stResponseInfo) == 33, "stResponseInfo layout");
static_assert(offsetof(stRequestHead, url) == 0 && offsetof(stRequestHead, timeoutMs) == 8 &&
              offsetof(stRequestHead, isAsync) == 12 && offsetof(stRequestHead, owner) == 13 &&
              offsetof(stRequestHead, callbackOnUiThread) == 21 && offsetof(stRequestHead, userData) == 22 &&
              sizeof(stRequestHead) == 30, "stRequestHead layout");
static_assert(offsetof(stKeyValue, key) == 0 && offsetof(stKeyValue, value) == 8 && sizeof(stKeyValue) == 16,
              "stKeyValue layout");
static_assert(offsetof(stKeyValueList, count) == 0 && offsetof(stKeyValueList, items) == 4 &&
              sizeof(stKeyValueList) == 12, "stKeyValueList layout");
static_assert(offsetof(stHttpRequest, head) == 0 && offsetof(stHttpRequest, structSize) == 30 &&
              offsetof(stHttpRequest, headers) == 34 && offsetof(stHttpRequest, queryParams) == 46 &&
              offsetof(stHttpRequest, formFields) == 58 && offsetof(stHttpRequest, onResponse) == 70 &&
              sizeof(stHttpRequest) == 78, "stHttpRequest layout");
static_assert(offsetof(stDownloadRequest, structSize) == 30 && offsetof(stDownloadRequest, overwrite) == 34 &&
              offsetof(stDownloadRequest, transferTimeoutSec) == 35 && offsetof(stDownloadRequest, binaryMode) == 39 &&
              offsetof(stDownloadRequest, savePath) == 43 && offsetof(stDownloadRequest, onResponse) == 51 &&
              offsetof(stDownloadRequest, onProgress) == 59 && offsetof(stDownloadRequest, onByteProgress) == 67 &&
              sizeof(stDownloadRequest) == 75, "stDownloadRequest layout");
static_assert(offsetof(stUploadRequest, structSize) == 30 && offsetof(stUploadRequest, filePath) == 34 &&
              offsetof(stUploadRequest, transferTimeoutSec) == 42 && offsetof(stUploadRequest, reserved) == 46 &&
              offsetof(stUploadRequest, onResponse) == 50 && offsetof(stUploadRequest, onProgress) == 58 &&
              offsetof(stUploadRequest, onByteProgress) == 66 && sizeof(stUploadRequest) == 74,
              "stUploadRequest layout");

}  // namespace LiveModule
