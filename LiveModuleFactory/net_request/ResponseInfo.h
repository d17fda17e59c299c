#pragma once

#include <cstdint>
#include <string>

#include "LiveModule/INetRequest.h"
#include "net_request/RequestJobs.h"

// The outcome of one request: the service's own record, the caller's packed view of it, the
// result codes and their messages.
namespace LiveModule {

constexpr int32_t kResultOk = 0;
constexpr int32_t kResultFailed = -1001;     // error status, empty download, transfer error
constexpr int32_t kResultNoAnswer = -1002;   // GET/POST got no status at all
constexpr int32_t kResultTimedOut = -1003;   // download hit its transfer limit
constexpr int32_t kResultFileError = -1005;  // a file-system step of a download failed
constexpr int32_t kResultFileExists = -1006; // the target exists and may not be replaced

// Messages reach callers as code page 936 bytes (WideToChs).
constexpr const wchar_t* kMessageNoAnswer = L"网络请求失败";
constexpr const wchar_t* kMessageErrorStatus = L"服务器返回异常，错误码: ";  // then the status
constexpr const wchar_t* kMessageFileExists = L"目标文件已存在";
constexpr const wchar_t* kMessageFileCreate = L"目标文件创建失败";
constexpr const wchar_t* kMessageFolderCreate = L"目标文件夹创建失败";
constexpr const wchar_t* kMessageFileOpen = L"目标文件打开失败";
constexpr const wchar_t* kMessageEmptyDownload = L"下载文件大小为0";

struct NeResInfo {
    int32_t id = -1;
    int32_t errorCode = kResultOk;
    std::string errorMsg;  // code page 936 for the messages above, ASCII for error names
    std::string url;       // as submitted, without the query built from queryParams
    bool isAsync = true;
    void* userData = nullptr;
};

// The record an execution starts from: the job's id, url, isAsync and userData.
NeResInfo PrepareResult(const NeReqInfo& job);

// Sets a failure code with one of the messages above.
void SetFailure(NeResInfo& result, int32_t code, const wchar_t* message);

// The caller's view; its pointers point into `result` and are never null.
stResponseInfo MakeResponseInfo(const NeResInfo& result);

// Judges a GET or POST by its status (0 when there was no answer): true for 1..399.
bool CheckResponse(NeResInfo& result, long status);

// The name of a transfer error number; empty for numbers without a name.
std::string ErrorCodeName(int code);

}  // namespace LiveModule
