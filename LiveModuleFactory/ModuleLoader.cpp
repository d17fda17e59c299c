// Discovery, loading, checking, ordering and unloading of module libraries.
#include <optional>
#include <string>

#include "CrashMark.h"

#include "FileUtils.h"
#include "LiveModuleFactory.h"
#include "LogBridge.h"
#include "NotificationPass.h"
#include "platform/FileSystem.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/ModuleRecord.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
bool IsSpecialName(const std::string& name) {
    return name.empty() || name == "." || name == "..";
}
}  // namespace

std::string LiveModuleFactory::LibraryCandidate(const std::string& folder, const std::string& name,
                                                const std::string& tag) const {
    const std::string sep = platform::kPathSeparatorText;
    return folder + sep + "64bit" + sep + name + "_" + tag + platform::kLibrarySuffix;
}

void LiveModuleFactory::LoadAllModules() {
    if (modulesDir.empty()) return;
    CrashMark::Recover(modulesDir);
    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(modulesDir, entries);
    for (const platform::DirEntry& item : entries) {
        const std::string& name = item.name;
        if (!item.isDirectory || IsSpecialName(name) || name == kFactoryModuleName) continue;
        const std::string folder = modulesDir + name;
        // A web plug-in package does not belong here; once moved it has no library left.
        if (PathExists(folder + platform::kPathSeparator + name + ".webdll")) updater->MoveToWebPlugins(folder, name);

        ModuleRecord record;
        std::string candidate;
        for (const std::string& tag : qtVersions) {
            record = ModuleRecord();
            record.name = name;
            std::string path = LibraryCandidate(folder, name, tag);
            if (!PathExists(path)) continue;
            // In the default environment only recorded, enabled modules run; an unrecorded package is
            // deleted by the updater.
            if (env == 0 && !updater->IsModuleEnabled(record)) continue;
            candidate = path;
            break;
        }
        if (candidate.empty()) continue;
        if (CrashMark::Present(candidate)) {
            // It took the host down last time; a new release of it removes the mark.
            LM_LOG(kLogError, "[LiveModuleFactory] Module skipped after a crash { id: %s }", name.c_str());
            continue;
        }
        platform::SetLibraryDirectory(folder + platform::kPathSeparator + "64bit" + platform::kPathSeparator);
        LoadModule(candidate, record);
    }
    SortModules();
    InitializeLoadedModules();
    std::vector<ILiveModule*> loaded;
    for (const LoadedModule& entry : modules) loaded.push_back(entry.module);
    NotifyEachOfEveryOther(loaded);
}

void LiveModuleFactory::InitializeLoadedModules() {
    for (auto it = modules.begin(); it != modules.end();) {
        bool initialized = false;
        {
            const CrashMark mark(it->path);
            initialized = it->module->Initialize();
        }
        if (initialized) {
            ++it;
            continue;
        }
        LM_LOG(kLogInfo, "[LiveModuleFactory] Module initialize failed { id: %s }", it->module->GetId());
        UnloadModule(*it, false);
        it = modules.erase(it);
    }
}

void LiveModuleFactory::LoadModule(const std::string& path, const ModuleRecord& record) {
    if (path.empty() || record.name == kFactoryModuleName) return;
    if (modules.FindByPath(path) != modules.end()) {
        LM_LOG(kLogError, "[LiveModuleFactory] Module already loaded { path: %s }", path.c_str());
        return;
    }

    LoadedModule entry;
    entry.path = path;
    std::string error;
    bool notifyUpdater = true;
    std::optional<CrashMark> mark(std::in_place, path);
    do {
        entry.handle = platform::LoadLibrary(path, &error);
        if (!entry.handle) break;
        entry.load = reinterpret_cast<LiveModuleLoadFunc>(platform::GetLibrarySymbol(entry.handle, "LiveModuleLoad"));
        entry.unload = reinterpret_cast<LiveModuleUnloadFunc>(platform::GetLibrarySymbol(entry.handle, "LiveModuleUnload"));
        if (!entry.load || !entry.unload) {
            error = "Get interface failed";
            break;
        }
        entry.module = entry.load(this);
        mark.reset();
        if (!entry.module) {
            error = "Create module instance failed";
            break;
        }
        const char* rawId = entry.module->GetId();
        if (!rawId || !*rawId) {
            error = "Module id is null";
            break;
        }
        const std::string moduleId = entry.module->GetId();
        notifyUpdater = false;

        const uint64_t apiVersion = entry.module->GetApiVersion();
        const uint64_t factoryApiVersion = entry.module->GetFactoryApiVersion();
        if (apiVersion < kInterfaceVersion || factoryApiVersion > kInterfaceVersion) {
            error = "Invalid version {api version: " + std::to_string(apiVersion) +
                    ", factory api version : " + std::to_string(factoryApiVersion) +
                    ", real api version: " + std::to_string(kInterfaceVersion) +
                    ", real factory version: " + std::to_string(kInterfaceVersion) + "}";
            break;
        }
        auto registered = FindEntryById(moduleId);
        if (registered != modules.end()) {
            error = "Module already loaded {id: " + moduleId + "path: " + registered->path + "}";
            break;
        }

        entry.id = record.name;
        entry.zorder = record.order;
        entry.module->SetDisabled(record.disabled);
        entry.module->SetIdentify(record.identify);
        modules.push_back(entry);
        if (LogEntry()) {
            const char* version = entry.module->GetVersion();
            LM_LOG(kLogInfo, "[LiveModuleFactory] Load module success {id: %s, version: %s, zorder: %d, disabled: %d }",
                   entry.module->GetId(), version ? version : "", entry.zorder, record.disabled ? 1 : 0);
        }
        return;
    } while (false);

    UnloadModule(entry, notifyUpdater);
    if (!error.empty()) {
        LogText(kLogError, "[LiveModuleFactory] Load module failed {reslut: " + error + ", path: " + path + "}");
    }
}

void LiveModuleFactory::UnloadModule(LoadedModule& entry, bool notifyUpdater) {
    LM_LOG(kLogInfo, "[LiveModuleFactory] Begin unload module { name: %s }", entry.id.c_str());
    if (entry.handle) {
        if (entry.module) entry.unload(entry.module);
        platform::FreeLibrary(entry.handle);
        entry.module = nullptr;
        entry.handle = nullptr;
    }
    LM_LOG(kLogInfo, "[LiveModuleFactory] Unload module finished");
    // Only failures before the id is known ask for a new download, and the id is still empty then, so
    // a package that keeps failing to load is not fetched again and again.
    if (notifyUpdater) updater->ReinstallModule(entry.id);
}

std::list<LoadedModule>::iterator LiveModuleFactory::FindEntryById(const std::string& id) {
    return modules.FindById(id);
}

ILiveModule* LiveModuleFactory::FindModule(const std::string& id) {
    auto it = FindEntryById(id);
    return it == modules.end() ? nullptr : it->module;
}

void LiveModuleFactory::SortModules() {
    // std::list::sort is stable: equal zorders keep their previous order.
    modules.sort([](const LoadedModule& a, const LoadedModule& b) { return a.zorder < b.zorder; });
}

}  // namespace LiveModule
