#include <tuple>

#include <gtest/gtest.h>

#include "FactoryEnvironment.h"

using LiveModule::DetectDirectories;
using LiveModule::QtVersionTags;

TEST(FactoryDirectories, DepthDecidesEveryFolder) {
    // factory | modules | config | logs | temp
    for (const auto& [library, data, expected] : std::vector<std::tuple<const char*, const char*, std::string>>{
             {"/opt/apps/host/modules/LiveModuleFactory/64bit/LiveModuleFactory.so", "/home/u/.local/share",
              "/opt/apps/host/modules/LiveModuleFactory/64bit/|/opt/apps/host/modules/|/opt/apps/host/config/|"
              "/opt/apps/host/logs/|/home/u/.local/share/Temp/apps/host/"},
             // Four separators: the root is empty text, so there is no parent to name a temp folder after.
             {"/a/b/c/lib.so", "/data", "/a/b/c/|/a/|/config/|/logs/|"},
             // Five: the root's parent is empty text, which holds no separator either.
             {"/r/a/b/c/lib.so", "/data", "/r/a/b/c/|/r/a/|/r/config/|/r/logs/|"},
             {"/p/r/a/b/c/lib.so", "/data", "/p/r/a/b/c/|/p/r/a/|/p/r/config/|/p/r/logs/|/data/Temp/p/r/"},
             {"/p/r/a/b/c/lib.so", "", "/p/r/a/b/c/|/p/r/a/|/p/r/config/|/p/r/logs/|"},  // no home, no data folder
             {"/b/lib.so", "/data", "/b/||||"},
             {"lib.so", "/data", "||||"}}) {
        const auto d = DetectDirectories(library, data);
        EXPECT_EQ(d.factoryDir + "|" + d.modulesDir + "|" + d.configDir + "|" + d.logDir + "|" + d.tempDir, expected) << library;
    }
}

TEST(QtVersionTags, PartnersFollowTheHostTag) {
    EXPECT_EQ(QtVersionTags("6_3_1_0"), (std::vector<std::string>{"6_3_1_0", "6_4_1_0"}));
    EXPECT_EQ(QtVersionTags("6_4_1_0"), (std::vector<std::string>{"6_4_1_0", "6_3_1_0"}));
    EXPECT_EQ(QtVersionTags("5_15_2_0"), (std::vector<std::string>{"5_15_2_0"}));
    EXPECT_EQ(QtVersionTags(""), (std::vector<std::string>{""}));
    EXPECT_EQ(LiveModule::QtTagFromVersion("6.4.1.0"), "6_4_1_0");
}
