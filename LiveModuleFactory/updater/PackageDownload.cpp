// Package downloads: the queue, at most five transfers in flight, and the factory's own package.
#include "FileUtils.h"
#include "KillPoint.h"
#include "LogBridge.h"
#include "TrustSettings.h"
#include "platform/FileSystem.h"
#include "TextConversion.h"
#include "net_request/RequestClient.h"
#include "updater/HostRequirement.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/PackageVerifier.h"

namespace LiveModule {

namespace {
constexpr std::size_t kMaxRunningDownloads = 5;
}  // namespace

std::string LiveModuleUpdater::DownloadPath(const std::string& name) const {
    // Not ".zip": a package becomes one only once it has passed its checks, so a crash between
    // download and check leaves nothing that start-up would install (it deletes other files).
    return stagingDir + name + ".pkg";
}

bool LiveModuleUpdater::AcceptPackage(const ModuleRecord& record) {
    const std::string downloaded = DownloadPath(record.name);
    const std::string package = stagingDir + record.name + ".zip";
    LM_KILL_POINT("download.finished");
    const bool verified = VerifyPackage(downloaded, record.package, BuiltTrustSettings().packagePublicKey);
    // An older package still waiting gives way to the checked one.
    const bool placed = verified && (platform::RemoveFile(package) || !PathExists(package)) &&
                        platform::MovePath(downloaded, package);
    if (!placed) {
        LM_LOG(kLogError, "[LiveModuleUpdater] Module package verify failed {module: %s}", record.name.c_str());
        platform::RemoveFile(downloaded);
        return false;
    }
    LM_KILL_POINT("download.accepted");
    return true;
}

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
                           ? DownloadPackage(record.packageUrl, DownloadPath(record.name), false)
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
        // A refused package leaves the installed release and the record as they were; the next
        // cycle finds the version still missing and fetches it again.
        if (AcceptPackage(record)) {
            if (record.name == kFactoryModuleName) {
                // The package waits in the staging folder for the next start.
                factoryRecord.version = record.version;
                SaveModuleInfo();
            } else {
                UpsertLocal(record);
                LM_KILL_POINT("download.recorded");
                NotifyInstalled(record.name);
            }
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
        if (DownloadPackage(entry->packageUrl, DownloadPath(kFactoryModuleName), true) < 0) {
            LM_LOG(kLogError, "[LiveModuleUpdater] Sync download factory module failed");
            return false;
        }
        // A refused factory package is not fatal: this factory runs on, and a later cycle retries.
        if (!AcceptPackage(*entry)) return true;
        factoryRecord.version = entry->version;
        SaveModuleInfo();
    }
    return true;
}

}  // namespace LiveModule
