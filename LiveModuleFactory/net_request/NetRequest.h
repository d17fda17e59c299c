#pragma once

#include <atomic>

#include "LiveModule/ILiveModule.h"
#include "LiveModule/INetRequest.h"

namespace LiveModule {

// The built-in "net_request" module. (Stand-in until the service is built: it starts and stops but
// refuses every request.)
class NetRequest : public ILiveModule, public INetRequest {
public:
    NetRequest() = default;
    ~NetRequest() override;

    // ILiveModule
    bool Initialize() override;
    const char* GetId() override { return "net_request"; }
    const wchar_t* GetName() override { return L"net_request_module"; }
    const char* GetVersion() override { return kFactoryProductVersion; }
    uint64_t GetServiceApiVersion() override { return kInterfaceVersion; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool) override {}
    bool IsDisabled() override { return false; }
    void Uninitialize() override;

    // INetRequest
    int32_t HttpGet(const stHttpRequest*) override { return -1; }
    int32_t HttpPost(const stHttpRequest*) override { return -1; }
    int32_t DownloadFile(const stDownloadRequest*) override { return -1; }
    int32_t UploadFile(const stUploadRequest*) override { return -1; }
    void CancelRequest(int32_t) override {}
    void CancelOwnerRequests(void*) override {}

private:
    std::atomic<bool> running{false};
};

}  // namespace LiveModule
