// The local module record: localModules and factoryRecord in memory, the ModuleInfo file on disk.
#include "FileUtils.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/ModuleInfoFile.h"
#include "platform/PathStyle.h"

namespace LiveModule {

void LiveModuleUpdater::ReadModuleInfo() {
    localModules.Clear();
    std::string content;
    // An unreadable file is treated as empty and left alone.
    if (!platform::ReadWholeFile(moduleInfoPath, content)) return;
    std::string text;
    text.reserve(content.size());
    for (char c : content) {
        if (c != '\n' && c != '\r') text += c;  // the lines are joined without separators
    }
    std::list<ModuleRecord> records;
    if (!ParseModuleInfo(text, factoryRecord, records)) platform::RemoveFile(moduleInfoPath);
    localModules = RecordList(std::move(records));
}

void LiveModuleUpdater::SaveModuleInfo() {
    if (openSaveBatches > 0) {
        saveWaiting = true;
        return;
    }
    // A failed write keeps the previous file whole; memory stays the authority and the next save
    // writes it.
    platform::ReplaceFileContent(moduleInfoPath, SerializeModuleInfo(factoryRecord, localModules.Items()));
}

void LiveModuleUpdater::UpsertLocal(const ModuleRecord& record) {
    localModules.Upsert(record);
    SaveModuleInfo();
}

bool LiveModuleUpdater::FindLocal(ModuleRecord& record) {
    const ModuleRecord* local = localModules.Find(record.name);
    if (local) record = *local;
    return local != nullptr;
}

bool LiveModuleUpdater::RemoveLocal(const std::string& name) {
    ModuleRecord removed;
    if (!localModules.Take(name, removed)) return false;
    SaveModuleInfo();
    return true;
}

void LiveModuleUpdater::ResetVersion(const std::string& name) {
    ModuleRecord* local = localModules.Find(name);
    if (!local || local->version == 0) return;
    local->version = 0;
    SaveModuleInfo();
}

bool LiveModuleUpdater::IsInstalled(const std::string& name) {
    return PathExists(modulesDir + name) || PathExists(modulesDir + "WebPlugins" + platform::kPathSeparator + name);
}

bool LiveModuleUpdater::IsModuleEnabled(ModuleRecord& record) {
    if (FindLocal(record)) return !record.disabled;
    // An unrecorded module is not installed: its folder goes, and a fresh download replaces it.
    if (!modulesDir.empty() && IsModuleFolderName(record.name)) DeleteDir(modulesDir + record.name);
    return false;
}

bool LiveModuleUpdater::GetModuleRecord(ModuleRecord& record) {
    return FindLocal(record);
}

}  // namespace LiveModule
