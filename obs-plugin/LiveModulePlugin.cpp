// The OBS Studio front-end plug-in: loads the LiveModule factory from the installation tree when OBS
// loads the plug-in, and releases it when OBS unloads the plug-in. The factory registers for OBS's
// front-end events itself. OBS runs on whatever happens here: a factory that does not start costs
// one line in OBS's log and nothing else.
#include <obs-module.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "FactoryHost.h"
#include "PluginSettings.h"

OBS_DECLARE_MODULE()

namespace {

using LiveModule::handover::FactoryHost;
using LiveModule::handover::Level;

// Touched on OBS's main thread only: obs_module_load and obs_module_unload run there.
std::unique_ptr<FactoryHost> g_host;
std::string g_lastError;  // why the last start failed, folded into the one failure line

void Report(Level level, const std::string& text) {
    if (level == Level::Error) {
        g_lastError = text;
        return;
    }
    blog(level == Level::Warning ? LOG_WARNING : LOG_INFO, "[LiveModule] %s", text.c_str());
}

std::string Explain(int error) {
    if (!g_lastError.empty()) return g_lastError;
    if (error == -1) return "the catalogue could not be read or the factory could not update itself (error -1)";
    if (error == -2) return "a factory package is still waiting after the handover (error -2)";
    return "error " + std::to_string(error);
}

void StartFactory() {
    const LiveModule::obs::PluginSettings settings =
        LiveModule::obs::ReadPluginSettings([](const char* name) { return std::getenv(name); });
    if (!settings.problem.empty()) blog(LOG_WARNING, "[LiveModule] ignored: %s", settings.problem.c_str());
    if (settings.root.empty()) {
        blog(LOG_ERROR, "[LiveModule] live modules are off: no installation root (HOME is not set and LIVEMODULE_ROOT "
                        "names none)");
        return;
    }
    g_host = std::make_unique<FactoryHost>(settings.FactoryLibrary(), Report);
    int error = 0;
    if (LiveModule::ILiveModuleFactory* factory = g_host->Start(settings.env, error)) {
        blog(LOG_INFO, "[LiveModule] factory started from %s (root from %s, env %d, host %s, Qt %s)",
             settings.FactoryLibrary().c_str(), settings.rootFrom.c_str(), settings.env, factory->GetHostVersion(),
             factory->GetQtVersion());
        return;
    }
    g_host.reset();
    blog(LOG_ERROR, "[LiveModule] live modules are off for this run, OBS continues: %s; factory log: %s",
         Explain(error).c_str(), settings.TodaysLog().c_str());
}

}  // namespace

MODULE_EXPORT const char* obs_module_name(void) {
    return "LiveModule";
}

MODULE_EXPORT const char* obs_module_description(void) {
    return "Loads the LiveModule factory and the live modules it keeps current.";
}

bool obs_module_load(void) {
    try {
        StartFactory();
    } catch (const std::exception& failure) {
        g_host.reset();
        blog(LOG_ERROR, "[LiveModule] live modules are off for this run, OBS continues: %s", failure.what());
    }
    return true;  // failing here would only make OBS list the plug-in as broken
}

void obs_module_unload(void) {
    g_host.reset();
}
