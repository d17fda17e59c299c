// A module on the public headers only whose net_request callbacks submit and withdraw requests of
// every kind until the host stops it; prints "[crosskind] rounds N" every 200 rounds and "[crosskind]
// stopped after N rounds" on leaving. It fetches the URL in <config>/crosskind.url.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include <LiveModule/LiveModule.h>

namespace {

class CrossKind final : public LiveModule::ILiveModule {
public:
    explicit CrossKind(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}
    ~CrossKind() override { Leave(); }

    bool Initialize() override {
        net = LiveModule::AsNetRequest(factory->QueryModule("net_request", LiveModule::kInterfaceVersion));
        std::ifstream config(std::string(factory->GetConfigDir()) + "crosskind.url");
        if (!net || !std::getline(config, url) || url.empty()) return false;
        folder = std::string(factory->GetTempDir());
        live = true;
        for (int i = 0; i < 4; ++i) Submit(i);
        return true;
    }
    const char* GetId() override { return "crosskind"; }
    const wchar_t* GetName() override { return L"crosskind"; }
    const char* GetVersion() override { return "1.0.0"; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }
    void Uninitialize() override { Leave(); }

private:
    // Once these withdrawals return, no callback of this module runs or starts: it may go.
    void Leave() {
        if (!live.exchange(false) || !net) return;
        net->CancelOwnerRequests(this);
        net->CancelOwnerRequests(&side);
        std::printf("[crosskind] stopped after %d rounds\n", rounds.load());
        std::fflush(stdout);
    }

    // Request n: a GET, a POST or a download, delivered on a worker or on the UI thread, owned by the
    // module or by its side owner.
    void Submit(int n) {
        if (!live) return;
        void* owner = n % 5 == 0 ? static_cast<void*>(&side) : static_cast<void*>(this);
        LiveModule::stRequestHead head;
        head.url = url.c_str();
        head.owner = owner;
        head.userData = this;
        head.callbackOnUiThread = n % 3 != 0;
        int32_t id;
        if (n % 2) {
            const std::string path = folder + "crosskind-" + std::to_string(n % 16);
            LiveModule::stDownloadRequest request;
            request.head = head;
            request.savePath = path.c_str();
            request.binaryMode = 1;
            request.onResponse = &CrossKind::OnResponse;
            request.onProgress = &CrossKind::OnProgress;
            id = net->DownloadFile(&request);
        } else {
            LiveModule::stHttpRequest request;
            request.head = head;
            request.onResponse = &CrossKind::OnResponse;
            id = n % 4 ? net->HttpPost(&request) : net->HttpGet(&request);
        }
        std::lock_guard<std::mutex> guard(lock);
        ids.push_back(id);
    }

    void Round() {
        const int round = ++rounds;
        if (round % 200 == 0) {
            std::printf("[crosskind] rounds %d\n", round);
            std::fflush(stdout);
        }
        Submit(2 * round);
        if (round % 2) Submit(2 * round + 1);  // a withdrawal per round keeps the queues short
        if (round % 20 == 0) net->CancelOwnerRequests(&side);
        int victim = -1;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!ids.empty()) victim = ids[(round * 7919) % ids.size()];
            if (ids.size() > 4096) ids.erase(ids.begin(), ids.begin() + 2048);
        }
        net->CancelRequest(victim);
    }

    static void OnResponse(const LiveModule::stResponseInfo& info, const char*) {
        static_cast<CrossKind*>(info.userData)->Round();
    }
    static void OnProgress(int id, double, void* self) {
        if (id % 7 == 0) static_cast<CrossKind*>(self)->net->CancelRequest(id);  // its own request
    }

    LiveModule::ILiveModuleFactory* factory;
    LiveModule::INetRequest* net = nullptr;
    std::string url, folder;  // set before the first request, read by callbacks
    std::atomic<bool> live{false};
    std::atomic<int> rounds{0};
    int side = 0;  // the address of the second owner
    bool disabled = false;
    std::mutex lock;  // guards ids
    std::vector<int32_t> ids;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new CrossKind(factory);  // LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
