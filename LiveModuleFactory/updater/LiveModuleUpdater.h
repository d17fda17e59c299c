#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "LiveModule/INetRequest.h"
#include "platform/ThreadTimer.h"
#include "updater/ModuleRecord.h"
#include "updater/RecordList.h"
#include "updater/UpdaterCallbacks.h"

namespace LiveModule {

class RequestClient;
struct RequestFinishedRes;
struct FileOperationRes;

// Keeps the module tree on disk in step with the remote catalogue: the catalogue query, the local
// record (ModuleInfo), package downloads and installation, and the periodic update timer. One per
// process. All of it runs on the host's UI thread (requests deliver their results there, the timer
// ticks there), so it takes no locks. Folder strings end with "/".
class LiveModuleUpdater {
public:
    LiveModuleUpdater(INetRequest* net, const UpdaterCallbacks& callbacks, const std::string& hostVersion);
    ~LiveModuleUpdater();
    LiveModuleUpdater(const LiveModuleUpdater&) = delete;
    LiveModuleUpdater& operator=(const LiveModuleUpdater&) = delete;

    // Start-up, blocking: 0, or -2 when a factory package was extracted (the loader replaces the
    // factory from it), or -1 when the catalogue query or the factory's own download fails. Then
    // downloads run and the update timer ticks on this thread's event loop.
    int Init(const std::string& modulesDir, int env);
    // Stops the timer and withdraws every request; no result reaches the updater afterwards.
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

#ifdef LIVEMODULE_TEST_HOOKS
    // Runs the update timer's tick now, on the calling (UI) thread; false when no timer is armed.
    static bool FireUpdateTimerNow();
#endif

private:
    friend class LiveModuleUpdaterTestPeer;

    // Lifecycle, update cycles and schedule (LiveModuleUpdater.cpp).
    void BuildCatalogueUrl(int env);
    bool SyncGetCatalogue(std::list<ModuleRecord>& catalogue);
    void UpdateBegin();
    void OnRequestFinished(const RequestFinishedRes& result);
    void ReadUpdateInterval();
    void StartTimer();
    void StopTimer();
    static void UpdateTimerProc();

    // Local record (LocalRecord.cpp).
    void ReadModuleInfo();
    // Writes the record now, or once when the outermost open batch closes.
    void SaveModuleInfo();
    // While a batch is open the record is written once, at its end, and only if something asked
    // for a write: a merge changes many records, and the file must never hold half of them.
    class SaveBatch;
    void UpsertLocal(const ModuleRecord& record);
    bool FindLocal(ModuleRecord& record);
    bool RemoveLocal(const std::string& name);
    void ResetVersion(const std::string& name);
    bool IsInstalled(const std::string& name);

    // The catalogue against the local record (CatalogueMerge.cpp).
    void MergeCatalogue(const std::list<ModuleRecord>& catalogue);
    void StartupPass(const std::list<ModuleRecord>& catalogue);
    bool IsQueued(const std::string& name) const;
    // The factory's callbacks; an empty one is skipped.
    void NotifyInstalled(const std::string& name);
    void NotifyOffline(const std::string& name);

    // Packages in the staging folder (PackageInstaller.cpp).
    int ApplyFactoryPackage();
    void CleanStagingDir();

    // Downloads (PackageDownload.cpp).
    void QueueDownload(const ModuleRecord& record);
    // Starts queued downloads up to five in flight; arms the timer when none runs.
    void StartDownloads();
    int DownloadPackage(const std::string& url, const std::string& savePath, bool blocking);
    // Where a package is downloaded to before its checks.
    std::string DownloadPath(const std::string& name) const;
    // Checks the downloaded package against its entry and the build's signing key; a package that
    // passes becomes stagingDir + name + ".zip", one that fails is deleted and logged.
    bool AcceptPackage(const ModuleRecord& record);
    void OnDownloadFinished(const FileOperationRes& result);
    bool SyncUpdateFactory(const std::list<ModuleRecord>& catalogue);

    bool initialized = false;
    std::string modulesDir;
    std::string stagingDir;      // modulesDir + "Temp/": downloaded packages and their extraction
    std::string moduleInfoPath;  // modulesDir + "ModuleInfo"
    std::string catalogueUrl;
    std::string hostVersion;
    RecordList localModules;  // every locally known module but the factory, in record order
    ModuleRecord factoryRecord;
    int openSaveBatches = 0;     // SaveBatch objects alive
    bool saveWaiting = false;    // a write was asked for while a batch was open
    std::string syncResponseBody;
    std::unique_ptr<RequestClient> requestClient;
    UpdaterCallbacks callbacks;
    uint32_t updateIntervalMs = 1800000;
    platform::TimerId updateTimerId = 0;
    std::map<int, ModuleRecord> runningDownloads;  // request id -> record
    RecordList pendingDownloads;                   // at most one record per name, in queue order
};

// Opens a batch of record writes for its lifetime.
class LiveModuleUpdater::SaveBatch {
public:
    explicit SaveBatch(LiveModuleUpdater& updater) : updater(updater) { ++updater.openSaveBatches; }
    ~SaveBatch() {
        if (--updater.openSaveBatches > 0 || !updater.saveWaiting) return;
        updater.saveWaiting = false;
        updater.SaveModuleInfo();
    }
    SaveBatch(const SaveBatch&) = delete;
    SaveBatch& operator=(const SaveBatch&) = delete;

private:
    LiveModuleUpdater& updater;
};

}  // namespace LiveModule
