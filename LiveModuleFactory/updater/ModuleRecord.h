#pragma once

#include <cstdint>
#include <string>

#include "updater/PackageCheck.h"

namespace LiveModule {

// One module as the catalogue lists it, as recorded locally, and as queued for download. Two records
// denote the same module when their names are equal (exact, case-sensitive).
struct ModuleRecord {
    int32_t order = 0;             // load position (zorder)
    int32_t version = 0;           // package version ("resver")
    int32_t requiredVersion = 0;   // installed versions below it are replaced
    bool disabled = false;
    bool hotUpdateEnabled = false;
    bool preinstall = true;        // may be installed while the host runs
    std::string name;              // package, folder and library base name
    std::string moduleName;        // display name
    std::string packageUrl;
    std::string updateTips;
    std::string appVersion;        // lowest host version the module accepts
    int32_t moduleType = 0;
    int32_t identify = 0;
    PackageCheck package;          // the package's size, digest and signature from "ext"
};

// The factory's own record and package are known by this name.
constexpr const char* kFactoryModuleName = "LiveModuleFactory";

// The modules folder's journal of the module whose code runs for the first time (CrashMark).
constexpr const char* kCrashJournalName = ".lm-starting";

// Folders and files of the modules folder itself, which no package may take the place of.
inline bool IsReservedTreeName(const std::string& name) {
    return name == "Temp" || name == "WebPlugins" || name == "MainProgramDeps" || name == "ModuleInfo" ||
           name == kCrashJournalName;
}

// A name that is one folder level: not empty, not "." or "..", without "/" or "\", and not one of
// the tree's own names. The updater refuses any other name, so no record can reach outside the
// modules folder or into the tree's own folders. The factory's name passes: it has its own entry.
inline bool IsPlainModuleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
           !IsReservedTreeName(name);
}

// A name whose folder a module package may fill, replace or remove: a plain name, but never the
// factory's own folder.
inline bool IsModuleFolderName(const std::string& name) {
    return IsPlainModuleName(name) && name != kFactoryModuleName;
}

}  // namespace LiveModule
