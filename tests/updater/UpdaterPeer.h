#pragma once

#include <list>
#include <map>
#include <string>

#include "updater/LiveModuleUpdater.h"

namespace LiveModule {

// The updater's internal steps and state, for the tests.
class LiveModuleUpdaterTestPeer {
public:
    static std::list<ModuleRecord>& Local(LiveModuleUpdater& u) { return u.localModules; }
    static std::list<ModuleRecord>& Pending(LiveModuleUpdater& u) { return u.pendingDownloads; }
    static int32_t& FactoryVersion(LiveModuleUpdater& u) { return u.factoryRecord.version; }
    static uint32_t IntervalMs(LiveModuleUpdater& u) { return u.updateIntervalMs; }
    static void Upsert(LiveModuleUpdater& u, const ModuleRecord& r) { u.UpsertLocal(r); }
    static void Queue(LiveModuleUpdater& u, const ModuleRecord& r) { u.QueueDownload(r); }
    static std::map<int, ModuleRecord>& Running(LiveModuleUpdater& u) { return u.runningDownloads; }
    static bool TimerArmed(LiveModuleUpdater& u) { return u.updateTimerId != 0; }
    // Runs the armed update timer's tick now; false when no timer is armed.
    static bool FireTimer(LiveModuleUpdater& u) {
        if (u.updateTimerId == 0) return false;
        LiveModuleUpdater::UpdateTimerProc();
        return true;
    }
    static void Merge(LiveModuleUpdater& u, const std::list<ModuleRecord>& c) { u.MergeCatalogue(c); }
    static void StartDownloads(LiveModuleUpdater& u) { u.StartDownloads(); }
    static bool SyncUpdateFactory(LiveModuleUpdater& u, const std::list<ModuleRecord>& c) {
        return u.SyncUpdateFactory(c);
    }
    static std::string CatalogueUrl(LiveModuleUpdater& u, int env) {
        u.BuildCatalogueUrl(env);
        return u.catalogueUrl;
    }
    // The folders and the record as Init sets them up, without asking the catalogue.
    static void Open(LiveModuleUpdater& u, const std::string& modulesDir) {
        u.modulesDir = modulesDir;
        u.moduleInfoPath = modulesDir + "ModuleInfo";
        u.stagingDir = modulesDir + "Temp/";
        u.ReadModuleInfo();
    }
};

}  // namespace LiveModule
