#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

LiveModuleUpdater::LiveModuleUpdater(INetRequest*, const UpdaterCallbacks& callbacks, const std::string& hostVersion)
    : hostVersion(hostVersion), callbacks(callbacks) {}

LiveModuleUpdater::~LiveModuleUpdater() {
    Uninit();
}

int LiveModuleUpdater::Init(const std::string& dir, int) {
    if (initialized) return 0;
    modulesDir = dir;
    initialized = true;
    return 0;
}

void LiveModuleUpdater::Uninit() {
    initialized = false;
}

bool LiveModuleUpdater::IsModuleEnabled(ModuleRecord&) {
    return false;
}

bool LiveModuleUpdater::GetModuleRecord(ModuleRecord&) {
    return false;
}

bool LiveModuleUpdater::InstallModule(const std::string&) {
    return false;
}

void LiveModuleUpdater::RemoveModule(const std::string&) {}

void LiveModuleUpdater::ReinstallModule(const std::string&) {}

void LiveModuleUpdater::MoveToWebPlugins(const std::string&, const std::string&) {}

}  // namespace LiveModule
