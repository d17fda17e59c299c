// The factory's services to modules, and its answers to the updater's notifications.
#include <optional>

#include "FileUtils.h"
#include "CrashMark.h"
#include "LiveModuleFactory.h"
#include "LogBridge.h"
#include "TextConversion.h"
#include "VersionCompare.h"
#include "net_request/NetRequest.h"
#include "platform/DynamicLibrary.h"
#include "platform/PathStyle.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/ModuleRecord.h"

namespace LiveModule {

namespace {

// Process-wide: filled on the first call and kept for the life of the process, also across factories.
std::optional<std::string> g_configDirUtf8;
std::optional<std::string> g_logDirUtf8;
std::optional<std::string> g_tempDirUtf8;
std::optional<std::string> g_qtVersion;

const char* CachedDirectory(std::optional<std::string>& cache, const std::string& dir, bool withParents = false) {
    if (dir.empty()) return "";
    if (!cache) {
        cache = AnsiToUtf8(dir);
        if (withParents) {
            CreateDirTree(dir);
        } else {
            CreateDirIfMissing(dir);
        }
    }
    return cache->c_str();
}

}  // namespace

int LiveModuleFactory::GetEnv() {
    return env;
}

ILiveModule* LiveModuleFactory::QueryModule(const char* id, uint64_t minApiVer) {
    if (!id || minApiVer == 0) return nullptr;
    if (std::string(id) == "net_request") {
        return minApiVer <= kInterfaceVersion ? static_cast<ILiveModule*>(netRequest.get()) : nullptr;
    }
    ILiveModule* module = FindModule(id);
    if (!module) {
        LM_LOG(kLogError, "[LiveModuleFactory] QueryModule failed, module not found {id: %s}", id);
        return nullptr;
    }
    if (module->IsDisabled()) {
        LM_LOG(kLogError, "[LiveModuleFactory] QueryModule failed, module disabled {id: %s}", id);
        return nullptr;
    }
    const uint64_t serviceApiVersion = module->GetServiceApiVersion();
    if (serviceApiVersion >= minApiVer) return module;
    LM_LOG(kLogError,
           "[LiveModuleFactory] QueryModule failed, module api version smaller {id: %s, minApiVer: %lld, realApiVer: %lld}",
           id, static_cast<long long>(minApiVer), static_cast<long long>(serviceApiVersion));
    return nullptr;
}

void LiveModuleFactory::EnumModules(void (*callback)(ILiveModule* module)) {
    if (!callback) return;
    for (LoadedModule& entry : modules) {
        if (!entry.module->IsDisabled()) callback(entry.module);
    }
}

const char* LiveModuleFactory::GetConfigDir() {
    return CachedDirectory(g_configDirUtf8, configDir);
}

const char* LiveModuleFactory::GetLogDir() {
    return CachedDirectory(g_logDirUtf8, logDir);
}

const char* LiveModuleFactory::GetTempDir() {
    // The temporary folder's parents may be missing on a fresh account (see DetectDirectories).
    return CachedDirectory(g_tempDirUtf8, tempDir, true);
}

bool LiveModuleFactory::IsHostVersionAtMost(const char* version) {
    if (!version) return false;
    // A host version that cannot be compared counts as not read; a malformed argument gets false.
    try {
        if (CompareVersion(hostVersion, "0.0.1") == 0) return true;
    } catch (const std::exception&) {
        return true;
    }
    try {
        return CompareVersion(version, hostVersion) >= 0;
    } catch (const std::exception&) {
        return false;
    }
}

const char* LiveModuleFactory::GetHostVersion() {
    return hostVersion.c_str();
}

const char* LiveModuleFactory::GetQtVersion() {
    if (!g_qtVersion) g_qtVersion = qtVersions.empty() ? std::string() : qtVersions.front();
    return g_qtVersion->c_str();
}

void LiveModuleFactory::BroadcastMessage(intptr_t message, ILiveModule* sender) {
    for (LoadedModule& entry : modules) {
        if (entry.module != sender) entry.module->OnMessage(message, sender);
    }
}

void LiveModuleFactory::OnModuleInstalled(std::string name) {
    // A running module is not replaced; its package waits for the next start. Entries are known by
    // their folder name, which a module's own id need not match.
    for (const LoadedModule& entry : modules) {
        if (entry.id == name) return;
    }
    ModuleRecord record;
    record.name = name;
    if (!updater->IsModuleEnabled(record) || !record.preinstall) return;
    if (!updater->InstallModule(name)) return;

    const std::string folder = modulesDir + name;
    for (const std::string& tag : qtVersions) {
        std::string candidate = LibraryCandidate(folder, name, tag);
        if (!PathExists(candidate)) continue;
        platform::SetLibraryDirectory(folder + platform::kPathSeparator + "64bit" + platform::kPathSeparator);
        LoadModule(candidate, record);
        break;
    }

    auto entry = modules.end();
    for (auto it = modules.begin(); it != modules.end() && entry == modules.end(); ++it) {
        if (it->id == name) entry = it;
    }
    if (entry == modules.end()) return;
    bool initialized = false;
    {
        const CrashMark mark(entry->path);
        initialized = entry->module->Initialize();
    }
    if (initialized) {
        for (LoadedModule& other : modules) {
            if (other.module != entry->module) other.module->OnModuleLoaded(entry->module);
        }
        return;
    }
    LM_LOG(kLogInfo, "[LiveModuleFactory] Module initialize failed { id: %s }", entry->module->GetId());
    UnloadModule(*entry, false);
    modules.erase(entry);
}

void LiveModuleFactory::OnModuleOffline(std::string name) {
    if (env != 0) return;
    LM_LOG(kLogError, "[LiveModuleFactory] Module offline {name: %s}", name.c_str());
    for (const LoadedModule& entry : modules) {
        if (entry.id == name) return;  // a running module is left alone
    }
    updater->RemoveModule(name);
}

void LiveModuleFactory::OnUpdateFinished() {
    for (LoadedModule& entry : modules) {
        ModuleRecord record;
        record.name = entry.id;
        if (!updater->GetModuleRecord(record)) continue;
        entry.zorder = record.order;
        entry.module->SetDisabled(record.disabled);
        entry.module->SetIdentify(record.identify);
    }
    SortModules();
}

}  // namespace LiveModule
