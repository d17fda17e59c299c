// The catalogue against the local record: what stays, what is fetched, what went offline.
#include "updater/HostRequirement.h"
#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

namespace {

// Moves the first record of that name out of `records` into `found`.
bool TakeByName(std::list<ModuleRecord>& records, const std::string& name, ModuleRecord& found) {
    for (auto it = records.begin(); it != records.end(); ++it) {
        if (it->name == name) {
            found = std::move(*it);
            records.erase(it);
            return true;
        }
    }
    return false;
}

}  // namespace

void LiveModuleUpdater::MergeCatalogue(const std::list<ModuleRecord>& catalogue) {
    std::list<ModuleRecord> previous;
    previous.swap(localModules);
    for (ModuleRecord entry : catalogue) {
        const bool suits = SuitsHost(entry.appVersion, hostVersion);
        if (entry.name == kFactoryModuleName) {
            if (factoryRecord.version < entry.version && suits) QueueDownload(entry);
            continue;
        }
        ModuleRecord local;
        const bool known = TakeByName(previous, entry.name, local);
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
    for (const ModuleRecord& gone : previous) NotifyOffline(gone.name);
}

void LiveModuleUpdater::StartupPass(const std::list<ModuleRecord>& catalogue) {
    MergeCatalogue(catalogue);
    for (const ModuleRecord& local : localModules) {
        // Installs a package an earlier run downloaded; a failed install resets this record's
        // version to 0, which the check below reads.
        InstallModule(local.name);
        if (local.version <= 0 && !IsQueued(local.name)) QueueDownload(local);
    }
    StartDownloads();
}

bool LiveModuleUpdater::IsQueued(const std::string& name) const {
    for (const ModuleRecord& queued : pendingDownloads) {
        if (queued.name == name) return true;
    }
    return false;
}

void LiveModuleUpdater::NotifyInstalled(const std::string& name) {
    if (callbacks.onModuleInstalled) callbacks.onModuleInstalled(name);
}

void LiveModuleUpdater::NotifyOffline(const std::string& name) {
    if (callbacks.onModuleOffline) callbacks.onModuleOffline(name);
}

}  // namespace LiveModule
