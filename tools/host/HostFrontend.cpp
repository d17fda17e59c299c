#include "HostFrontend.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#ifdef _WIN32
#define HOST_EXPORT extern "C" __declspec(dllexport)
#else
#define HOST_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using EventCallback = void (*)(int event, void* data);

std::mutex g_lock;
std::vector<std::pair<EventCallback, void*>> g_callbacks;  // guarded by g_lock
std::string g_hostVersion = "30.0.0";                      // guarded by g_lock
std::string g_qtVersion = "6.3.1";                         // guarded by g_lock

}  // namespace

namespace LiveModule::host {

void SetHostVersion(const std::string& version) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_hostVersion = version;
}

void SetQtVersion(const std::string& version) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_qtVersion = version;
}

void FireFrontendEvent(int event) {
    std::vector<std::pair<EventCallback, void*>> callbacks;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        callbacks = g_callbacks;
    }
    for (const auto& [callback, data] : callbacks) callback(event, data);
}

size_t FrontendCallbackCount() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_callbacks.size();
}

}  // namespace LiveModule::host

HOST_EXPORT void obs_frontend_add_event_callback(EventCallback callback, void* data) {
    std::lock_guard<std::mutex> guard(g_lock);
    g_callbacks.emplace_back(callback, data);
}

HOST_EXPORT void obs_frontend_remove_event_callback(EventCallback callback, void* data) {
    std::lock_guard<std::mutex> guard(g_lock);
    auto it = std::find(g_callbacks.begin(), g_callbacks.end(), std::make_pair(callback, data));
    if (it != g_callbacks.end()) g_callbacks.erase(it);
}

HOST_EXPORT const char* obs_get_version_string() {
    // The text lives as long as nobody changes the version, which hosts do only before loading.
    std::lock_guard<std::mutex> guard(g_lock);
    return g_hostVersion.empty() ? nullptr : g_hostVersion.c_str();
}

HOST_EXPORT const char* qVersion() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_qtVersion.empty() ? nullptr : g_qtVersion.c_str();
}
