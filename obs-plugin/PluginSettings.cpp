#include "PluginSettings.h"

#include <ctime>
#include <fstream>

namespace LiveModule::obs {

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::string AsFolder(std::string path) {
    if (!path.empty() && path.back() != '/') path += '/';
    return path;
}

// A base folder from an XDG variable, else the home folder's default, else empty.
std::string XdgFolder(const std::function<const char*(const char*)>& getenv, const char* variable,
                      const char* underHome) {
    const char* value = getenv(variable);
    if (value && value[0] == '/') return AsFolder(value);
    const char* home = getenv("HOME");
    return home && home[0] ? AsFolder(home) + underHome : "";
}

bool ParseEnv(const std::string& text, int& env) {
    if (text != "0" && text != "1" && text != "2") return false;
    env = text[0] - '0';
    return true;
}

}  // namespace

std::string PluginSettings::TodaysLog() const {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "LiveModule_%Y%m%d.log", &local);
    return root + "logs/" + name;
}

PluginSettings ReadPluginSettings(const std::function<const char*(const char*)>& getenv) {
    PluginSettings settings;
    const std::string configBase = XdgFolder(getenv, "XDG_CONFIG_HOME", ".config/");
    if (!configBase.empty()) {
        const std::string config = configBase + "LiveModule/obs-plugin.ini";
        std::ifstream file(config);
        std::string line;
        while (std::getline(file, line)) {
            const size_t equals = line.find('=');
            if (equals == std::string::npos || Trimmed(line).rfind('#', 0) == 0) continue;
            const std::string key = Trimmed(line.substr(0, equals)), value = Trimmed(line.substr(equals + 1));
            if (key == "root" && !value.empty() && value[0] == '/') {
                settings.root = AsFolder(value);
                settings.rootFrom = config;
            } else if (key == "root") {
                settings.problem = config + ": root must be an absolute folder, not '" + value + "'";
            } else if (key == "env" && !ParseEnv(value, settings.env)) {
                settings.problem = config + ": env must be 0, 1 or 2, not '" + value + "'";
            }
        }
    }
    if (const char* root = getenv("LIVEMODULE_ROOT"); root && root[0]) {
        if (root[0] == '/') {
            settings.root = AsFolder(root);
            settings.rootFrom = "LIVEMODULE_ROOT";
        } else {
            settings.problem = std::string("LIVEMODULE_ROOT must be an absolute folder, not '") + root + "'";
        }
    }
    if (const char* env = getenv("LIVEMODULE_ENV"); env && env[0] && !ParseEnv(env, settings.env)) {
        settings.problem = std::string("LIVEMODULE_ENV must be 0, 1 or 2, not '") + env + "'";
    }
    if (settings.root.empty()) {
        const std::string dataBase = XdgFolder(getenv, "XDG_DATA_HOME", ".local/share/");
        if (!dataBase.empty()) settings.root = dataBase + "LiveModule/";
        settings.rootFrom = "the default";
    }
    return settings;
}

}  // namespace LiveModule::obs
