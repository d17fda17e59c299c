#include "platform/ProcessInfo.h"

#include <windows.h>
#include <shlobj.h>

namespace LiveModule::platform {

namespace {

// GetModuleFileNameA of a module, growing the buffer for long paths; empty on failure.
std::string ModuleFileName(HMODULE module) {
    std::string buffer(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return buffer.substr(0, length);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

// The front-end API library of the host when loaded, then the host executable itself (our hosts
// define the functions there).
FARPROC FindInHost(const char* name) {
    if (HMODULE frontend = ::GetModuleHandleA("obs-frontend-api.dll")) {
        if (FARPROC function = ::GetProcAddress(frontend, name)) return function;
    }
    return ::GetProcAddress(::GetModuleHandleA(nullptr), name);
}

}  // namespace

bool GetModulePathFromAddress(const void* address, std::string& path) {
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(address), &module)) {
        return false;
    }
    std::string name = ModuleFileName(module);
    if (name.empty()) return false;
    path = name;
    return true;
}

bool GetHostExecutablePath(std::string& path) {
    std::string name = ModuleFileName(nullptr);
    if (name.empty()) return false;
    path = name;
    return true;
}

std::string GetLocalAppDataDir() {
    char buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_LOCAL_APPDATA, FALSE)) return {};
    std::string folder = buffer;
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

void* FindHostSymbol(const char* name) {
    return reinterpret_cast<void*>(FindInHost(name));
}

// Windows hosts carry their version in the executable's version resource, which the factory reads
// next; no export is consulted.
std::string GetHostVersionFromExports() {
    return {};
}

std::string GetQtVersionFromExports() {
    using VersionFunc = const char* (*)();
    VersionFunc version = nullptr;
    if (HMODULE core = ::GetModuleHandleA("Qt6Core.dll")) {
        version = reinterpret_cast<VersionFunc>(reinterpret_cast<void*>(::GetProcAddress(core, "qVersion")));
    }
    if (!version) version = reinterpret_cast<VersionFunc>(FindHostSymbol("qVersion"));
    const char* text = version ? version() : nullptr;
    if (!text || !*text) return std::string();
    std::string result = text;
    int components = 1;
    for (char c : result) components += (c == '.');
    for (; components < 4; ++components) result += ".0";
    return result;
}

const char* QtPlatformPluginRelativePath() {
    return "platforms\\qwindows.dll";
}

}  // namespace LiveModule::platform
