// The updater's object, start-up and stop.
#include "updater/LiveModuleUpdater.h"

#include "DeviceIdentity.h"
#include "updater/CatalogueUrl.h"
#include "updater/UpdateInterval.h"

#if __has_include("net_request/RequestClient.h")
#include "net_request/RequestClient.h"
#else
namespace LiveModule {
// Until the request client lands the owning pointer stays null; it still needs a complete type.
class RequestClient {};
}  // namespace LiveModule
#endif

namespace LiveModule {

namespace {
// The timer procedure has no context of its own and finds the updater here.
LiveModuleUpdater* g_updater = nullptr;
}  // namespace

LiveModuleUpdater::LiveModuleUpdater(INetRequest* /*net*/, const UpdaterCallbacks& callbacks,
                                     const std::string& hostVersion)
    : hostVersion(hostVersion), callbacks(callbacks) {
    factoryRecord.name = kFactoryModuleName;
    g_updater = this;
    // requestClient is created over `net` (as service and owner) once the request client lands.
}

LiveModuleUpdater::~LiveModuleUpdater() {
    Uninit();
    if (g_updater == this) g_updater = nullptr;
}

int LiveModuleUpdater::Init(const std::string& dir, int /*env*/) {
    if (initialized) return 0;
    modulesDir = dir;
    moduleInfoPath = modulesDir + "ModuleInfo";
    stagingDir = modulesDir + "Temp/";
    // A factory package downloaded last time is handed to the loader before anything else runs.
    const int factoryPackage = ApplyFactoryPackage();
    if (factoryPackage != 0) return factoryPackage;
    initialized = true;

    // BuildCatalogueUrl(env) comes with the catalogue.
    ReadUpdateInterval();
    CleanStagingDir();
    ReadModuleInfo();

    // Coming with the catalogue and downloads: SyncGetCatalogue (-1 on failure), SyncUpdateFactory
    // (-1 on failure), ApplyFactoryPackage again (its result), StartupPass.
    return 0;
}

void LiveModuleUpdater::Uninit() {
    if (!initialized) return;
    initialized = false;
    StopTimer();
    // requestClient->CancelAll() comes with the request client.
}

void LiveModuleUpdater::ReadUpdateInterval() {
    updateIntervalMs = ReadUpdateIntervalMs(GlobalIniPath(modulesDir));
}

void LiveModuleUpdater::BuildCatalogueUrl(int env) {
    catalogueUrl = CatalogueQueryUrl(CatalogueBaseUrl(env), GetMacAddress(':'));
}

void LiveModuleUpdater::StopTimer() {
    if (updateTimerId == 0) return;
    platform::KillThreadTimer(updateTimerId);
    updateTimerId = 0;
}

}  // namespace LiveModule
