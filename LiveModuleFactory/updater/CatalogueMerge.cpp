// The catalogue against the local record: what stays, what is fetched, what went offline.
#include <optional>

#include "KillPoint.h"
#include "updater/HostRequirement.h"
#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

void LiveModuleUpdater::MergeCatalogue(const std::list<ModuleRecord>& catalogue) {
    RecordList previous = std::move(localModules);
    localModules.Clear();
    // One write of the whole record when the catalogue has been gone through: a host that dies
    // half-way leaves the previous record, never a part of the new one without the rest.
    std::optional<SaveBatch> batch(std::in_place, *this);
    for (ModuleRecord entry : catalogue) {
        LM_KILL_POINT("merge.entry");
        const bool suits = SuitsHost(entry.appVersion, hostVersion);
        if (entry.name == kFactoryModuleName) {
            if (factoryRecord.version < entry.version && suits) QueueDownload(entry);
            continue;
        }
        ModuleRecord local;
        const bool known = previous.Take(entry.name, local);
        if (!suits) {
            // A package this host cannot run is never fetched; what is installed stays as it is.
            if (known) {
                UpsertLocal(local);
                if (local.disabled && !entry.disabled) NotifyInstalled(entry.name);
            }
            continue;
        }
        if (!known || local.version < entry.requiredVersion) {
            // Without a local record the factory removes the folder; the download brings it back.
            QueueDownload(entry);
            continue;
        }
        if (!IsInstalled(entry.name) && !InstallModule(entry.name)) {
            QueueDownload(entry);
            continue;
        }
        if (local.version < entry.version) QueueDownload(entry);
        // Every field from the catalogue but the version actually installed.
        entry.version = local.version;
        UpsertLocal(entry);
        if (local.disabled && !entry.disabled) NotifyInstalled(entry.name);
    }
    LM_KILL_POINT("merge.saving");
    batch.reset();
    LM_KILL_POINT("merge.saved");
    for (const ModuleRecord& gone : previous.Items()) NotifyOffline(gone.name);
}

void LiveModuleUpdater::StartupPass(const std::list<ModuleRecord>& catalogue) {
    MergeCatalogue(catalogue);
    for (const ModuleRecord& local : localModules.Items()) {
        // Installs a package an earlier run downloaded; a failed install resets this record's
        // version to 0, which the check below reads.
        InstallModule(local.name);
        if (local.version <= 0 && !IsQueued(local.name)) QueueDownload(local);
    }
    StartDownloads();
}

bool LiveModuleUpdater::IsQueued(const std::string& name) const {
    return pendingDownloads.Find(name) != nullptr;
}

void LiveModuleUpdater::NotifyInstalled(const std::string& name) {
    if (callbacks.onModuleInstalled) callbacks.onModuleInstalled(name);
}

void LiveModuleUpdater::NotifyOffline(const std::string& name) {
    if (callbacks.onModuleOffline) callbacks.onModuleOffline(name);
}

}  // namespace LiveModule
