// A module that reports to the host's standard output where the host runs it: which thread
// initialises it (the process's main thread has the process id as its thread id), and on which
// thread a net_request result reaches it. PROBE_ID and PROBE_VERSION name the build;
// PROBE_FAILS_TO_START makes a release whose start fails; PROBE_FETCH_URL makes it GET that URL.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <LiveModule/LiveModule.h>

namespace {

const char* Thread() {
    return syscall(SYS_gettid) == getpid() ? "the main thread" : "another thread";
}

class Probe final : public LiveModule::ILiveModule {
public:
    explicit Probe(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    bool Initialize() override {
#ifdef PROBE_FAILS_TO_START
        std::printf("[probe] %s %s refuses to start\n", PROBE_ID, PROBE_VERSION);
        std::fflush(stdout);
        return false;
#endif
        std::printf("[probe] %s %s initialised on %s (host %s, Qt %s)\n", PROBE_ID, PROBE_VERSION, Thread(),
                    factory->GetHostVersion(), factory->GetQtVersion());
#ifdef PROBE_FETCH_URL
        net = LiveModule::AsNetRequest(factory->QueryModule("net_request", LiveModule::kInterfaceVersion));
        LiveModule::stHttpRequest request;
        request.head.url = PROBE_FETCH_URL;
        request.head.owner = this;
        request.onResponse = &Probe::OnResponse;
        if (!net || net->HttpGet(&request) < 0) std::printf("[probe] %s cannot submit a request\n", PROBE_ID);
#endif
        std::fflush(stdout);
        return true;
    }
    const char* GetId() override { return PROBE_ID; }
    const wchar_t* GetName() override { return L"Probe"; }
    const char* GetVersion() override { return PROBE_VERSION; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }
    void Uninitialize() override {
        if (net) net->CancelOwnerRequests(this);
        std::printf("[probe] %s %s uninitialised\n", PROBE_ID, PROBE_VERSION);
        std::fflush(stdout);
    }

private:
    static void OnResponse(const LiveModule::stResponseInfo& info, const char* text) {
        std::printf("[probe] %s net_request result %d (%zu bytes) on %s\n", PROBE_ID, info.errorCode,
                    text ? std::strlen(text) : 0, Thread());
        std::fflush(stdout);
    }

    LiveModule::ILiveModuleFactory* factory;
    LiveModule::INetRequest* net = nullptr;
    bool disabled = false;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new Probe(factory);  // LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
