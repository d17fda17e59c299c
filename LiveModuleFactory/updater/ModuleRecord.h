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

// A name that is one folder level: not empty, not "." or "..", without "/" or "\". The updater's
// folder operations refuse any other name, so no record can reach outside the modules folder.
inline bool IsPlainModuleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

}  // namespace LiveModule
