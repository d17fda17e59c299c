// Where the OBS plug-in finds its installation root and environment: variables over the config
// file over the default, and settings that cannot be used are reported, never half-applied.
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "PluginSettings.h"
#include "TestSupport.h"

TEST(PluginSettings, VariablesOverConfigFileOverDefault) {
    lmtest::TempDir temp;
    const std::string config = temp.path() + "/config";
    std::filesystem::create_directories(config + "/LiveModule");
    const std::string file = config + "/LiveModule/obs-plugin.ini";
    const struct {
        const char* what;
        std::map<std::string, std::string> variables;
        const char* fileText;  // null: no config file
        std::string root, rootFrom;
        int env;
        const char* problem;  // part of the problem text; empty: none
    } cases[] = {
        {"default under HOME", {{"HOME", "/home/zoë"}}, nullptr, "/home/zoë/.local/share/LiveModule/", "the default", 0, ""},
        {"default under XDG_DATA_HOME", {{"HOME", "/h"}, {"XDG_DATA_HOME", "/data"}}, nullptr, "/data/LiveModule/",
         "the default", 0, ""},
        {"relative XDG_DATA_HOME is ignored", {{"HOME", "/h"}, {"XDG_DATA_HOME", "data"}}, nullptr,
         "/h/.local/share/LiveModule/", "the default", 0, ""},
        {"no HOME, no root", {}, nullptr, "", "the default", 0, ""},
        {"config file", {{"HOME", "/h"}}, "# mine\n root = /srv/用户/lm \nenv=2\n", "/srv/用户/lm/", file, 2, ""},
        {"variables win", {{"HOME", "/h"}, {"LIVEMODULE_ROOT", "/opt/lm/"}, {"LIVEMODULE_ENV", "1"}}, "root=/srv\nenv=2\n",
         "/opt/lm/", "LIVEMODULE_ROOT", 1, ""},
        {"relative root in the file", {{"HOME", "/h"}}, "root = lm\n", "/h/.local/share/LiveModule/", "the default", 0,
         "root must be an absolute folder, not 'lm'"},
        {"bad env in the file", {{"HOME", "/h"}}, "env = 3\n", "/h/.local/share/LiveModule/", "the default", 0,
         "env must be 0, 1 or 2, not '3'"},
        {"relative LIVEMODULE_ROOT", {{"HOME", "/h"}, {"LIVEMODULE_ROOT", "x"}}, "root=/srv\n", "/srv/", file, 0,
         "LIVEMODULE_ROOT must be an absolute folder"},
        {"bad LIVEMODULE_ENV", {{"HOME", "/h"}, {"LIVEMODULE_ENV", "-1"}}, nullptr, "/h/.local/share/LiveModule/",
         "the default", 0, "LIVEMODULE_ENV must be 0, 1 or 2, not '-1'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(file);
        if (c.fileText) lmtest::WriteFile(file, c.fileText);
        std::map<std::string, std::string> variables = c.variables;
        variables["XDG_CONFIG_HOME"] = config;
        const LiveModule::obs::PluginSettings settings = LiveModule::obs::ReadPluginSettings([&](const char* name) {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(settings.root, c.root);
        EXPECT_EQ(settings.rootFrom, c.rootFrom);
        EXPECT_EQ(settings.env, c.env);
        if (c.problem[0]) {
            EXPECT_NE(settings.problem.find(c.problem), std::string::npos) << settings.problem;
        } else {
            EXPECT_EQ(settings.problem, "");
        }
        if (!c.root.empty()) {
            EXPECT_EQ(settings.FactoryLibrary(), c.root + "modules/LiveModuleFactory/64bit/LiveModuleFactory.so");
            EXPECT_EQ(settings.TodaysLog().rfind(c.root + "logs/LiveModule_", 0), 0u) << settings.TodaysLog();
        }
    }
}
