#include "platform/ProcessInfo.h"

#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace LiveModule::platform {

namespace {

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

std::string HomeDir() {
    const char* home = getenv("HOME");
    if (home && *home) return home;
    if (const passwd* entry = getpwuid(getuid())) {
        if (entry->pw_dir) return entry->pw_dir;
    }
    return std::string();
}

}  // namespace

bool GetModulePathFromAddress(const void* address, std::string& path) {
    Dl_info info{};
    if (!dladdr(address, &info) || !info.dli_fname || !*info.dli_fname) return false;
    path = AbsolutePath(info.dli_fname);
    return true;
}

bool GetHostExecutablePath(std::string& path) {
    char buffer[PATH_MAX + 1] = {};
    ssize_t length = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (length <= 0) return false;
    path.assign(buffer, static_cast<size_t>(length));
    return true;
}

std::string GetLocalAppDataDir() {
    // XDG base directories: $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return dataHome;
    std::string home = HomeDir();
    if (home.empty()) return std::string();
    if (home.size() > 1 && home.back() == '/') home.pop_back();
    return home + "/.local/share";
}

void* FindHostSymbol(const char* name) {
    return dlsym(RTLD_DEFAULT, name);
}

std::string GetHostVersionFromExports() {
    using VersionFunc = const char* (*)();
    auto version = reinterpret_cast<VersionFunc>(FindHostSymbol("obs_get_version_string"));
    const char* text = version ? version() : nullptr;
    return text ? text : "";
}

std::string GetQtVersionFromExports() {
    using VersionFunc = const char* (*)();
    auto version = reinterpret_cast<VersionFunc>(FindHostSymbol("qVersion"));
    const char* text = version ? version() : nullptr;
    if (!text || !*text) return std::string();
    std::string result = text;
    int components = 1;
    for (char c : result) components += (c == '.');
    for (; components < 4; ++components) result += ".0";
    return result;
}

const char* QtPlatformPluginRelativePath() {
    return "platforms/libqxcb.so";
}

}  // namespace LiveModule::platform
