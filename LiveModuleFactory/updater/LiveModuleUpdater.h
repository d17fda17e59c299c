#pragma once

#include <string>

#include "LiveModule/INetRequest.h"
#include "updater/ModuleRecord.h"
#include "updater/UpdaterCallbacks.h"

namespace LiveModule {

// Keeps the module tree in step with the remote catalogue. Runs on the host's UI thread.
// (Stand-in until the updater is built: answers the factory's questions without a catalogue.)
class LiveModuleUpdater {
public:
    LiveModuleUpdater(INetRequest* net, const UpdaterCallbacks& callbacks, const std::string& hostVersion);
    ~LiveModuleUpdater();

    int Init(const std::string& modulesDir, int env);
    void Uninit();

    bool IsModuleEnabled(ModuleRecord& record);
    bool GetModuleRecord(ModuleRecord& record);
    bool InstallModule(const std::string& name);
    void RemoveModule(const std::string& name);
    void ReinstallModule(const std::string& name);
    void MoveToWebPlugins(const std::string& folder, const std::string& name);

private:
    bool initialized = false;
    std::string modulesDir;
    std::string hostVersion;
    UpdaterCallbacks callbacks;
};

}  // namespace LiveModule
