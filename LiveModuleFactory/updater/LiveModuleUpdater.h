#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "LiveModule/INetRequest.h"
#include "platform/ThreadTimer.h"
#include "updater/ModuleRecord.h"
#include "updater/UpdaterCallbacks.h"

namespace LiveModule {

class RequestClient;
struct RequestFinishedRes;
struct FileOperationRes;

// Keeps the module tree on disk in step with the remote catalogue: the local record (ModuleInfo),
// package installation from the staging folder, and, later, the catalogue query, downloads and the
// update timer. One per process; all of it runs on the host's UI thread and takes no locks.
// Folder strings end with "/".
class LiveModuleUpdater {
public:
    LiveModuleUpdater(INetRequest* net, const UpdaterCallbacks& callbacks, const std::string& hostVersion);
    ~LiveModuleUpdater();
    LiveModuleUpdater(const LiveModuleUpdater&) = delete;
    LiveModuleUpdater& operator=(const LiveModuleUpdater&) = delete;

    // Start-up: 0, or -2 when a waiting factory package was extracted (the loader replaces the
    // factory from it), or -1 when the blocking catalogue phase fails.
    int Init(const std::string& modulesDir, int env);
    void Uninit();

    // Whether a module may run: recorded and not disabled. An unrecorded module's folder is deleted.
    bool IsModuleEnabled(ModuleRecord& record);
    // Fills `record` from the local record of the same name.
    bool GetModuleRecord(ModuleRecord& record);

    // Installs the package waiting in the staging folder; false when there is none or it failed.
    bool InstallModule(const std::string& name);
    void RemoveModule(const std::string& name);
    void ReinstallModule(const std::string& name);
    void MoveToWebPlugins(const std::string& folder, const std::string& name);

private:
    friend class LiveModuleUpdaterTestPeer;

    // Lifecycle and schedule (LiveModuleUpdater.cpp).
    void ReadUpdateInterval();
    void StopTimer();
    // Coming with the downloads: UpdateBegin, OnRequestFinished, StartTimer, UpdateTimerProc,
    // SyncGetCatalogue.
    void UpdateBegin();
    void OnRequestFinished(const RequestFinishedRes& result);
    void StartTimer();
    static void UpdateTimerProc();
    void BuildCatalogueUrl(int env);
    bool SyncGetCatalogue(std::list<ModuleRecord>& catalogue);

    // Local record (LocalRecord.cpp).
    void ReadModuleInfo();
    void SaveModuleInfo();
    void UpsertLocal(const ModuleRecord& record);
    bool FindLocal(ModuleRecord& record);
    bool RemoveLocal(const std::string& name);
    void ResetVersion(const std::string& name);
    bool IsInstalled(const std::string& name);

    // The catalogue against the local record (CatalogueMerge.cpp).
    void MergeCatalogue(const std::list<ModuleRecord>& catalogue);
    // Coming with the downloads: StartupPass.
    void StartupPass(const std::list<ModuleRecord>& catalogue);
    void NotifyInstalled(const std::string& name);
    void NotifyOffline(const std::string& name);

    // Packages (PackageInstaller.cpp).
    int ApplyFactoryPackage();
    void CleanStagingDir();
    void QueueDownload(const ModuleRecord& record);
    // Coming with the downloads: StartDownloads, DownloadPackage, OnDownloadFinished, SyncUpdateFactory.
    void StartDownloads();
    int DownloadPackage(const std::string& url, const std::string& savePath, bool blocking);
    void OnDownloadFinished(const FileOperationRes& result);
    bool SyncUpdateFactory(const std::list<ModuleRecord>& catalogue);

    bool initialized = false;
    std::string modulesDir;
    std::string stagingDir;      // modulesDir + "Temp/": downloaded packages and their extraction
    std::string moduleInfoPath;  // modulesDir + "ModuleInfo"
    std::string catalogueUrl;
    std::string hostVersion;
    std::list<ModuleRecord> localModules;  // every locally known module but the factory
    ModuleRecord factoryRecord;
    std::string syncResponseBody;
    std::unique_ptr<RequestClient> requestClient;
    UpdaterCallbacks callbacks;
    uint32_t updateIntervalMs = 1800000;
    platform::TimerId updateTimerId = 0;
    std::map<int, ModuleRecord> runningDownloads;  // request id -> record
    std::list<ModuleRecord> pendingDownloads;      // at most one record per name
};

}  // namespace LiveModule
