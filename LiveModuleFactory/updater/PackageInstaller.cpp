// Packages in the staging folder: installation, the factory's own package, removal and clean-up.
#include <vector>

#include "FileUtils.h"
#include "LogBridge.h"
#include "platform/FileSystem.h"
#include "KillPoint.h"
#include "updater/FolderSwap.h"
#include "updater/LiveModuleUpdater.h"
#include "updater/ZipExtractor.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {

constexpr const char* kWebPluginsFolder = "WebPlugins";

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

bool LiveModuleUpdater::InstallModule(const std::string& name) {
    if (modulesDir.empty() || !IsModuleFolderName(name)) return false;
    const std::string package = stagingDir + name + ".zip";
    if (!PathExists(package)) return false;
    LM_LOG(kLogInfo, "[LiveModuleUpdater] Start install module {name: %s}", name.c_str());

    // Everything happens in the module's own scratch folder under the staging folder (the modules
    // folder's file system, so the new release can be renamed into place); the installed folder is
    // touched only by the one exchange at the end. The package cannot write beside its own folder.
    const std::string work = stagingDir + name + platform::kPathSeparator;
    const std::string unpacked = work + "unpacked" + platform::kPathSeparator;
    const std::string extracted = unpacked + name;
    std::string target = modulesDir + name;
    bool installed = false;
    std::string error;
    DeleteDir(work);
    if (!UnzipPackage(package, unpacked)) {
        error = "[LiveModuleUpdater] Unzip module packet failed {path: " + package + "}";
    } else if (!platform::IsDirectory(extracted) || platform::IsLink(extracted)) {
        // The package's top folder is not named after the module.
        error = "[LiveModuleUpdater] Copy module dir failed";
    } else {
        LM_KILL_POINT("install.extracted");
        if (PathExists(extracted + platform::kPathSeparator + name + ".webdll")) {
            const std::string webPlugins = modulesDir + kWebPluginsFolder + platform::kPathSeparator;
            CreateDirIfMissing(webPlugins);
            target = webPlugins + name;
        }
        switch (ReplaceFolder(extracted, target, work + "release")) {
        case SwapResult::Installed:
            installed = true;
            break;
        case SwapResult::CopyFailed:
            error = "[LiveModuleUpdater] Copy module dir failed";
            break;
        case SwapResult::SwapFailed:
            error = "[LiveModuleUpdater] Delete install dir failed {dir: " + target + "}";
            break;
        }
    }
    // The scratch folder goes first: on a full disk the record can be written only then.
    DeleteDir(work);
    // A version of 0 makes the next start or merge fetch the package again.
    if (!installed) ResetVersion(name);
    if (!error.empty()) LogText(kLogError, error);
    platform::RemoveFile(package);
    LM_KILL_POINT("install.finished");
    return installed;
}

int LiveModuleUpdater::ApplyFactoryPackage() {
    const std::string package = stagingDir + kFactoryModuleName + ".zip";
    if (!PathExists(package)) return 0;
    // The package and its folder stay for the loader, which replaces the factory's files from them.
    if (UnzipPackage(package, stagingDir)) return -2;
    DeleteDir(stagingDir + kFactoryModuleName);
    platform::RemoveFile(package);
    return 0;
}

void LiveModuleUpdater::CleanStagingDir() {
    if (stagingDir.empty() || !PathExists(stagingDir)) return;
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(stagingDir, entries)) return;
    // Packages waiting for installation stay; extraction leftovers and partial downloads go.
    for (const platform::DirEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        const std::string path = stagingDir + entry.name;
        if (entry.isDirectory) {
            DeleteDir(path);
        } else if (!EndsWith(entry.name, ".zip")) {
            platform::RemoveFile(path);
        }
    }
}

void LiveModuleUpdater::RemoveModule(const std::string& name) {
    RemoveLocal(name);
    if (!modulesDir.empty() && IsModuleFolderName(name)) DeleteDir(modulesDir + name);
}

void LiveModuleUpdater::ReinstallModule(const std::string& name) {
    ModuleRecord record;
    record.name = name;
    if (!FindLocal(record)) return;
    RemoveLocal(name);
    // The local record carries the packageUrl of the last merge.
    QueueDownload(record);
    StartDownloads();
}

void LiveModuleUpdater::MoveToWebPlugins(const std::string& folder, const std::string& name) {
    if (folder.empty() || name.empty() || modulesDir.empty() || !IsModuleFolderName(name)) return;
    const std::string webPlugins = modulesDir + kWebPluginsFolder;
    CreateDirIfMissing(webPlugins);
    if (CopyDir(folder, webPlugins + platform::kPathSeparator + name, true)) DeleteDir(folder);
}

}  // namespace LiveModule
