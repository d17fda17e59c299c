#include "platform/DynamicLibrary.h"

#include <windows.h>
// The platform call of the same name, not the Win32 macro for its ANSI form.
#undef LoadLibrary

#include <mutex>

#include "platform/win32/SystemErrorText.h"

namespace LiveModule::platform {

namespace {
// Last folder handed to SetLibraryDirectory, for GetLibraryDirectory.
std::mutex g_libraryDirectoryLock;
std::string g_libraryDirectory;
}  // namespace

LibraryHandle LoadLibrary(const std::string& path, std::string* errorText) {
    HMODULE handle = ::LoadLibraryA(path.c_str());
    if (!handle && errorText) *errorText = SystemErrorText(::GetLastError());
    return reinterpret_cast<LibraryHandle>(handle);
}

void* GetLibrarySymbol(LibraryHandle library, const char* name) {
    if (!library || !name) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreeLibrary(LibraryHandle library) {
    if (library) ::FreeLibrary(static_cast<HMODULE>(library));
}

bool IsLibraryLoaded(const std::string& path) {
    // Takes no reference, so nothing is to be given back.
    return ::GetModuleHandleA(path.c_str()) != nullptr;
}

void SetLibraryDirectory(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_libraryDirectoryLock);
    g_libraryDirectory = folder;
    // A module's own folder is searched for the libraries it depends on while it loads.
    ::SetDllDirectoryA(folder.empty() ? nullptr : folder.c_str());
}

std::string GetLibraryDirectory() {
    std::lock_guard<std::mutex> guard(g_libraryDirectoryLock);
    return g_libraryDirectory;
}

}  // namespace LiveModule::platform
