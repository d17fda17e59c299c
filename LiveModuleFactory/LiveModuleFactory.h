#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "LiveModule/ILiveModuleFactory.h"
#include "LoadedModule.h"
#include "RegistryList.h"
#include "platform/DynamicLibrary.h"

namespace LiveModule {

class NetRequest;
class LiveModuleUpdater;
struct ModuleRecord;

// The module host. Created and destroyed through the library's two exports; every member function runs
// on the host's UI thread and the factory takes no locks.
class LiveModuleFactory : public ILiveModuleFactory {
public:
    explicit LiveModuleFactory(int env);
    ~LiveModuleFactory() override;

    LiveModuleFactory(const LiveModuleFactory&) = delete;
    LiveModuleFactory& operator=(const LiveModuleFactory&) = delete;

    // Start-up: net_request, the updater's blocking phase, host dependencies, modules. 0 or the
    // updater's error code (-1, -2).
    int Init();

    // ILiveModuleFactory
    int GetEnv() override;
    ILiveModule* QueryModule(const char* id, uint64_t minApiVer) override;
    void EnumModules(void (*callback)(ILiveModule* module)) override;
    const char* GetConfigDir() override;
    const char* GetLogDir() override;
    const char* GetTempDir() override;
    bool IsHostVersionAtMost(const char* version) override;
    const char* GetHostVersion() override;
    const char* GetQtVersion() override;
    void BroadcastMessage(intptr_t message, ILiveModule* sender) override;

    // Module loading.
    void LoadAllModules();
    void LoadModule(const std::string& path, const ModuleRecord& record);
    void UnloadModule(LoadedModule& entry, bool notifyUpdater);
    ILiveModule* FindModule(const std::string& id);
    void SortModules();

    // Updater notifications.
    void OnModuleInstalled(std::string name);
    void OnModuleOffline(std::string name);
    void OnUpdateFinished();

    // Files that modules need beside the host executable.
    void DeployHostDependencies();
    void RunFileOperation(const std::string& src, const std::string& dst);

    // Host front-end event callback; event 17 (exit) runs OnHostExit.
    static void OnFrontendEvent(int event, void* data);
    void OnHostExit();

    const std::list<LoadedModule>& Modules() const { return modules.List(); }
    const std::vector<std::string>& QtVersions() const { return qtVersions; }

private:
    void DetectDirectories();
    void DetectHostVersion();
    void DetectQtVersions();
    void InitializeLoadedModules();
    std::list<LoadedModule>::iterator FindEntryById(const std::string& id);
    std::string LibraryCandidate(const std::string& folder, const std::string& name, const std::string& tag) const;

    int32_t env = 0;                             // 0 default catalogue, 1 and 2 the alternatives
    std::unique_ptr<NetRequest> netRequest;      // the built-in net_request module
    std::unique_ptr<LiveModuleUpdater> updater;
    RegistryList modules;                        // the registry, in registry order
    std::vector<std::string> qtVersions;         // Qt tags to try, best first
    std::string factoryDir;                      // every folder ends with "/"
    std::string modulesDir;
    std::string configDir;
    std::string logDir;
    std::string tempDir;
    std::string hostVersion = "0.0.1";           // until the host's version is read
    platform::LibraryHandle logLibrary = nullptr;
};

}  // namespace LiveModule
