#pragma once

#include <functional>
#include <string>

// Where the OBS plug-in finds its installation tree and which catalogue environment it starts.
namespace LiveModule::obs {

struct PluginSettings {
    std::string root;       // the installation root, ending with "/"
    int env = 0;            // the factory's environment argument
    std::string rootFrom;   // where the root came from, for the log
    std::string problem;    // a setting that was ignored, and why; empty when none

    std::string FactoryLibrary() const { return root + "modules/LiveModuleFactory/64bit/LiveModuleFactory.so"; }
    // The factory log file of today (the log library writes one a day).
    std::string TodaysLog() const;
};

// Reads the settings, highest precedence first: the environment variables LIVEMODULE_ROOT and
// LIVEMODULE_ENV, then the config file ($XDG_CONFIG_HOME or ~/.config, LiveModule/obs-plugin.ini:
// lines "root = PATH" and "env = N"), then the default root $XDG_DATA_HOME/LiveModule/ (or
// ~/.local/share/LiveModule/) and env 0. `getenv` is the variable lookup (std::getenv in the plug-in).
PluginSettings ReadPluginSettings(const std::function<const char*(const char*)>& getenv);

}  // namespace LiveModule::obs
