// The local module record: localModules and factoryRecord in memory, the ModuleInfo file on disk.
#include "FileUtils.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/ModuleInfoFile.h"
#include "platform/PathStyle.h"

namespace LiveModule {

void LiveModuleUpdater::ReadModuleInfo() {
    localModules.clear();
    std::string content;
    // An unreadable file is treated as empty and left alone.
    if (!platform::ReadWholeFile(moduleInfoPath, content)) return;
    std::string text;
    text.reserve(content.size());
    for (char c : content) {
        if (c != '\n' && c != '\r') text += c;  // the lines are joined without separators
    }
    if (!ParseModuleInfo(text, factoryRecord, localModules)) platform::RemoveFile(moduleInfoPath);
}

void LiveModuleUpdater::SaveModuleInfo() {
    // A failed write keeps the previous file whole; memory stays the authority and the next save
    // writes it.
    platform::ReplaceFileContent(moduleInfoPath, SerializeModuleInfo(factoryRecord, localModules));
}

void LiveModuleUpdater::UpsertLocal(const ModuleRecord& record) {
    bool replaced = false;
    for (ModuleRecord& local : localModules) {
        if (local.name == record.name) {
            local = record;
            replaced = true;
            break;
        }
    }
    if (!replaced) localModules.push_back(record);
    SaveModuleInfo();
}

bool LiveModuleUpdater::FindLocal(ModuleRecord& record) {
    for (const ModuleRecord& local : localModules) {
        if (local.name == record.name) {
            record = local;
            return true;
        }
    }
    return false;
}

bool LiveModuleUpdater::RemoveLocal(const std::string& name) {
    for (auto it = localModules.begin(); it != localModules.end(); ++it) {
        if (it->name == name) {
            localModules.erase(it);
            SaveModuleInfo();
            return true;
        }
    }
    return false;
}

void LiveModuleUpdater::ResetVersion(const std::string& name) {
    for (ModuleRecord& local : localModules) {
        if (local.name != name) continue;
        if (local.version != 0) {
            local.version = 0;
            SaveModuleInfo();
        }
        return;
    }
}

bool LiveModuleUpdater::IsInstalled(const std::string& name) {
    return PathExists(modulesDir + name) || PathExists(modulesDir + "WebPlugins" + platform::kPathSeparator + name);
}

bool LiveModuleUpdater::IsModuleEnabled(ModuleRecord& record) {
    if (FindLocal(record)) return !record.disabled;
    // An unrecorded module is not installed: its folder goes, and a fresh download replaces it.
    if (!modulesDir.empty() && IsPlainModuleName(record.name)) DeleteDir(modulesDir + record.name);
    return false;
}

bool LiveModuleUpdater::GetModuleRecord(ModuleRecord& record) {
    return FindLocal(record);
}

}  // namespace LiveModule
