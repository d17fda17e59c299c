#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "LiveModule/INetRequest.h"

// The service's own records of submitted requests and of pending UI-thread work. They hold copies
// of everything the caller passed, so the caller's record need only live for the submitting call.
namespace LiveModule {

// Key/value pairs in the caller's order.
using StringPairs = std::vector<std::pair<std::string, std::string>>;

// The part every job shares.
struct NeReqInfo {
    int32_t id = -1;
    std::string url;
    bool isAsync = true;
    int32_t timeoutMs = 3000;
    void* owner = nullptr;
    bool callbackOnUiThread = true;  // always false for a synchronous request
    void* userData = nullptr;
};

// A GET or form POST.
struct NeHttpReqInfo : NeReqInfo {
    bool isGet = true;
    StringPairs headers;
    StringPairs queryParams;
    StringPairs formFields;
    ResponseCallback onResponse = nullptr;
};

// A download into a file.
struct NeDownloadReqInfo : NeReqInfo {
    bool overwrite = true;
    uint32_t transferTimeoutSec = 3600;
    uint32_t binaryMode = 0;
    std::string savePath;  // UTF-8, as the caller gave it
    ResponseCallback onResponse = nullptr;
    ProgressCallback onProgress = nullptr;
    ByteProgressCallback onByteProgress = nullptr;
};

// Work waiting for the UI thread; id and owner let withdrawals find it.
struct NeUiTask {
    int32_t id = -1;
    void* owner = nullptr;
    std::function<void()> task;
};

}  // namespace LiveModule
