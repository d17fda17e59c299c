#pragma once

#include <cstdint>
#include <string>

#include "LiveModule/LiveModuleExports.h"
#include "platform/DynamicLibrary.h"

namespace LiveModule {

// One registry entry. Copies share the pointers; the entry in the registry owns the library handle
// and the module object, which UnloadModule releases.
struct LoadedModule {
    int32_t zorder = 0;                      // position key, from the module record's order
    std::string id;                          // the record's name; empty until accepted
    std::string path;                        // full path of the library file
    platform::LibraryHandle handle = nullptr;
    ILiveModule* module = nullptr;           // created by load, destroyed only by unload
    LiveModuleLoadFunc load = nullptr;
    LiveModuleUnloadFunc unload = nullptr;
};

}  // namespace LiveModule
