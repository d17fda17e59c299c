#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace LiveModule::platform {

namespace {
// Last folder handed to SetLibraryDirectory; kept for inspection only.
std::mutex g_libraryDirectoryLock;
std::string g_libraryDirectory;
}  // namespace

LibraryHandle LoadLibrary(const std::string& path, std::string* errorText) {
    // RTLD_LOCAL: each module keeps its own symbols, as a Windows DLL does.
    LibraryHandle handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && errorText) {
        const char* text = dlerror();
        *errorText = text ? text : "";
    }
    return handle;
}

void* GetLibrarySymbol(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return dlsym(library, name);
}

void FreeLibrary(LibraryHandle library) {
    if (library) dlclose(library);
}

bool IsLibraryLoaded(const std::string& path) {
    LibraryHandle still = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!still) return false;
    dlclose(still);
    return true;
}

void SetLibraryDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_libraryDirectoryLock);
    g_libraryDirectory = folder;
}

std::string GetLibraryDirectory() {
    std::lock_guard<std::mutex> guard(g_libraryDirectoryLock);
    return g_libraryDirectory;
}

}  // namespace LiveModule::platform
