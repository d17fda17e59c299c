// Package downloads: the queue, at most five transfers in flight, and the factory's own package.
#include "FileUtils.h"
#include "LogBridge.h"
#include "TextConversion.h"
#include "net_request/RequestClient.h"
#include "updater/HostRequirement.h"
#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

namespace {
constexpr std::size_t kMaxRunningDownloads = 5;
}  // namespace

void LiveModuleUpdater::QueueDownload(const ModuleRecord& record) {
    pendingDownloads.Upsert(record);  // a queued name is replaced in its place
}

void LiveModuleUpdater::StartDownloads() {
    ModuleRecord record;
    while (runningDownloads.size() < kMaxRunningDownloads && pendingDownloads.TakeFront(record)) {
        LM_LOG(kLogInfo, "[LiveModuleUpdater] Module download begin {module: %s, url: %s}", record.name.c_str(),
               record.packageUrl.c_str());
        // The save path is built from the name; one that is not a single folder level is refused
        // like a submission the service rejects.
        const int id = IsPlainModuleName(record.name)
                           ? DownloadPackage(record.packageUrl, stagingDir + record.name + ".zip", false)
                           : -1;
        if (id >= 0) {
            runningDownloads[id] = record;
        } else {
            // Dropped: the next merge queues it again if it is still needed.
            LM_LOG(kLogError, "[LiveModuleUpdater] Download module failed {error: %d, module: %s, url: %s}", id,
                   record.name.c_str(), record.packageUrl.c_str());
        }
    }
    if (initialized && runningDownloads.empty()) StartTimer();
}

int LiveModuleUpdater::DownloadPackage(const std::string& url, const std::string& savePath, bool blocking) {
    CreateDirIfMissing(stagingDir);
    DownloadRequestParams params;
    params.url = url;
    params.timeoutMs = 10000;
    params.savePath = AnsiToUtf8(savePath);
    params.binaryMode = 1;
    params.transferTimeoutSec = 3600;
    params.overwrite = true;
    params.isAsync = !blocking;
    params.callbackOnUiThread = !blocking;
    params.onFinished = [this](const FileOperationRes& result) { OnDownloadFinished(result); };
    return requestClient->Download(params);
}

void LiveModuleUpdater::OnDownloadFinished(const FileOperationRes& result) {
    const auto running = runningDownloads.find(result.id);
    if (running == runningDownloads.end()) {
        // The blocking factory download reports here too, during its call, before it has an entry.
        LM_LOG(kLogError, "[LiveModuleUpdater] Not found module download info");
        return;
    }
    const ModuleRecord record = std::move(running->second);
    runningDownloads.erase(running);
    if (result.errorCode == 0) {
        LM_LOG(kLogInfo, "[LiveModuleUpdater] Module download finished {module: %s}", record.name.c_str());
        if (record.name == kFactoryModuleName) {
            // The package waits in the staging folder for the next start.
            factoryRecord.version = record.version;
            SaveModuleInfo();
        } else {
            UpsertLocal(record);
            NotifyInstalled(record.name);
        }
    } else {
        LM_LOG(kLogError, "[LiveModuleUpdater] Module download failed {error: %d, module: %s}", result.errorCode,
               record.name.c_str());
    }
    StartDownloads();
    if (runningDownloads.empty()) {
        LM_LOG(kLogInfo, "[LiveModuleUpdater] Modules update finished");
        if (callbacks.onUpdateFinished) callbacks.onUpdateFinished();
    }
}

bool LiveModuleUpdater::SyncUpdateFactory(const std::list<ModuleRecord>& catalogue) {
    const ModuleRecord* entry = nullptr;
    for (const ModuleRecord& record : catalogue) {
        if (record.name == kFactoryModuleName) {
            entry = &record;
            break;
        }
    }
    if (!entry) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Get factory module info failed");
        return false;
    }
    if (factoryRecord.version < entry->version && SuitsHost(entry->appVersion, hostVersion)) {
        // Blocks the UI thread for the whole transfer: start-up waits for the factory's own package.
        if (DownloadPackage(entry->packageUrl, stagingDir + kFactoryModuleName + ".zip", true) < 0) {
            LM_LOG(kLogError, "[LiveModuleUpdater] Sync download factory module failed");
            return false;
        }
        factoryRecord.version = entry->version;
        SaveModuleInfo();
    }
    return true;
}

}  // namespace LiveModule
