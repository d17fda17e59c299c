// The updater's object, start-up, update cycles, timer and stop.
#include "updater/LiveModuleUpdater.h"

#include "DeviceIdentity.h"
#include "LogBridge.h"
#include "net_request/RequestClient.h"
#include "updater/Catalogue.h"
#include "updater/CatalogueUrl.h"
#include "updater/UpdateInterval.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
// The timer procedure has no context of its own and finds the updater here.
LiveModuleUpdater* g_updater = nullptr;

constexpr int32_t kCatalogueTimeoutMs = 10000;
}  // namespace

LiveModuleUpdater::LiveModuleUpdater(INetRequest* net, const UpdaterCallbacks& callbacks,
                                     const std::string& hostVersion)
    : hostVersion(hostVersion),
      // The service pointer doubles as the owner tag, so CancelAll withdraws exactly our requests.
      requestClient(std::make_unique<RequestClient>(net, static_cast<void*>(net))),
      callbacks(callbacks) {
    factoryRecord.name = kFactoryModuleName;
    g_updater = this;
}

LiveModuleUpdater::~LiveModuleUpdater() {
    Uninit();
    if (g_updater == this) g_updater = nullptr;
}

int LiveModuleUpdater::Init(const std::string& dir, int env) {
    if (initialized) return 0;
    modulesDir = dir;
    moduleInfoPath = modulesDir + "ModuleInfo";
    stagingDir = modulesDir + "Temp" + platform::kPathSeparator;
    // A factory package downloaded last time is handed to the loader before anything else runs.
    const int waitingFactory = ApplyFactoryPackage();
    if (waitingFactory != 0) return waitingFactory;
    initialized = true;

    BuildCatalogueUrl(env);
    ReadUpdateInterval();
    CleanStagingDir();
    ReadModuleInfo();
    std::list<ModuleRecord> catalogue;
    if (!SyncGetCatalogue(catalogue)) return -1;
    if (!SyncUpdateFactory(catalogue)) return -1;
    const int downloadedFactory = ApplyFactoryPackage();
    if (downloadedFactory != 0) return downloadedFactory;
    StartupPass(catalogue);
    return 0;
}

void LiveModuleUpdater::Uninit() {
    if (!initialized) return;
    initialized = false;
    StopTimer();
    requestClient->CancelAll();
    // Withdrawn downloads never report back; their entries would hold slots for ever.
    runningDownloads.clear();
}

void LiveModuleUpdater::BuildCatalogueUrl(int env) {
    catalogueUrl = CatalogueQueryUrl(CatalogueBaseUrl(env), GetMacAddress(':'));
}

bool LiveModuleUpdater::SyncGetCatalogue(std::list<ModuleRecord>& catalogue) {
    syncResponseBody.clear();
    HttpRequestParams params;
    params.url = catalogueUrl;
    params.timeoutMs = kCatalogueTimeoutMs;
    params.isAsync = false;
    params.onFinished = [this](const RequestFinishedRes& result) { OnRequestFinished(result); };
    // Blocking: OnRequestFinished has stored the body before Get returns.
    if (requestClient->Get(params) < 0 || syncResponseBody.empty()) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Sync get remote module info failed");
        return false;
    }
    // A rejected answer leaves the list empty, and the missing factory entry fails start-up next.
    ParseCatalogue(syncResponseBody, catalogue);
    return true;
}

void LiveModuleUpdater::UpdateBegin() {
    LM_LOG(kLogInfo, "[LiveModuleUpdater] Modules update begin");
    HttpRequestParams params;
    params.url = catalogueUrl;
    params.timeoutMs = kCatalogueTimeoutMs;
    params.onFinished = [this](const RequestFinishedRes& result) { OnRequestFinished(result); };
    if (requestClient->Get(params) < 0) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Get remote module info failed");
        StartDownloads();
    }
}

void LiveModuleUpdater::OnRequestFinished(const RequestFinishedRes& result) {
    if (result.errorCode != 0) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Http request failed {error: %d, msg: %s}", result.errorCode,
               result.errorMsg.c_str());
        StartDownloads();
        return;
    }
    if (!result.isAsync) {
        syncResponseBody = result.body;
        return;
    }
    // A failed cycle leaves everything as it is; the next tick asks again.
    std::list<ModuleRecord> catalogue;
    if (ParseCatalogue(result.body, catalogue)) {
        MergeCatalogue(catalogue);
    } else {
        LM_LOG(kLogError, "[LiveModuleUpdater] Parse remote module info failed");
    }
    StartDownloads();
}

void LiveModuleUpdater::ReadUpdateInterval() {
    updateIntervalMs = ReadUpdateIntervalMs(GlobalIniPath(modulesDir));
}

void LiveModuleUpdater::StartTimer() {
    if (updateTimerId != 0) return;
    // Periodic and never killed between cycles: armed once, it ticks every interval until Uninit.
    updateTimerId = platform::SetThreadTimer(updateIntervalMs, &LiveModuleUpdater::UpdateTimerProc);
}

void LiveModuleUpdater::StopTimer() {
    if (updateTimerId == 0) return;
    platform::KillThreadTimer(updateTimerId);
    updateTimerId = 0;
}

void LiveModuleUpdater::UpdateTimerProc() {
    if (g_updater) g_updater->UpdateBegin();
}

#ifdef LIVEMODULE_TEST_HOOKS
bool LiveModuleUpdater::FireUpdateTimerNow() {
    if (!g_updater || g_updater->updateTimerId == 0) return false;
    UpdateTimerProc();
    return true;
}
#endif

}  // namespace LiveModule
