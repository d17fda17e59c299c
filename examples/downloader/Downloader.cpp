// downloader: a module that uses the built-in net_request service. At start-up it fetches the URL
// named in <config>/downloader.url into <temp>/downloader/, with progress and the result delivered
// on the host's UI thread. Release 1.0.0 is built to fail its start (DOWNLOADER_FAILS_TO_START), so
// that the fixed 2.0.0 can show a module arriving as a hot update while the host runs.
#include <cstdio>
#include <fstream>
#include <string>

#include <LiveModule/LiveModule.h>

#ifndef DOWNLOADER_VERSION
#define DOWNLOADER_VERSION "1.0.0"
#endif

namespace {

class Downloader final : public LiveModule::ILiveModule {
public:
    explicit Downloader(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    bool Initialize() override {
#ifdef DOWNLOADER_FAILS_TO_START
        std::printf("[downloader %s] cannot start: this release does not read its configuration\n", DOWNLOADER_VERSION);
        std::fflush(stdout);
        return false;
#endif
        std::printf("[downloader %s] initialised\n", DOWNLOADER_VERSION);
        net = LiveModule::AsNetRequest(factory->QueryModule("net_request", LiveModule::kInterfaceVersion));
        std::ifstream config(std::string(factory->GetConfigDir()) + "downloader.url");
        std::string url;
        if (!net || !std::getline(config, url) || url.empty()) {
            std::printf("[downloader %s] nothing to fetch\n", DOWNLOADER_VERSION);
            std::fflush(stdout);
            return true;
        }
        const std::string folder = std::string(factory->GetTempDir()) + "downloader";
        target = folder + "/" + url.substr(url.rfind('/') + 1);

        LiveModule::stDownloadRequest request;
        request.head.url = url.c_str();
        request.head.owner = this;
        request.head.userData = this;
        request.head.timeoutMs = 5000;
        request.savePath = target.c_str();
        request.binaryMode = 1;
        request.onResponse = &Downloader::OnFinished;
        request.onByteProgress = &Downloader::OnProgress;
        const int id = net->DownloadFile(&request);
        std::printf("[downloader %s] fetching %s (request %d)\n", DOWNLOADER_VERSION, url.c_str(), id);
        std::fflush(stdout);
        return true;
    }
    const char* GetId() override { return "downloader"; }
    const wchar_t* GetName() override { return L"Downloader"; }
    const char* GetVersion() override { return DOWNLOADER_VERSION; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }
    void Uninitialize() override {
        // Nothing may call back into a module that is going away.
        if (net) net->CancelOwnerRequests(this);
    }
    ~Downloader() override {
        if (net) net->CancelOwnerRequests(this);
    }

private:
    // Both run on the host's UI thread: the request asked for UI-thread delivery.
    static void OnProgress(int id, long long received, long long total, void* userData) {
        auto* self = static_cast<Downloader*>(userData);
        const int percent = total > 0 ? static_cast<int>(received * 100 / total) : -1;
        if (percent / 25 == self->lastQuarter && percent != 100) return;
        self->lastQuarter = percent / 25;
        std::printf("[downloader %s] request %d: %lld of %lld bytes\n", DOWNLOADER_VERSION, id, received, total);
        std::fflush(stdout);
    }
    static void OnFinished(const LiveModule::stResponseInfo& info, const char* path) {
        std::printf("[downloader %s] request %d finished with code %d: %s\n", DOWNLOADER_VERSION, info.id,
                    info.errorCode, info.errorCode == 0 ? path : "failed");
        std::fflush(stdout);
    }

    LiveModule::ILiveModuleFactory* factory;
    LiveModule::INetRequest* net = nullptr;
    std::string target;
    bool disabled = false;
    int lastQuarter = -1;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new Downloader(factory);  // LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
