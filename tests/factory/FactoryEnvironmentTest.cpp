#include <gtest/gtest.h>

#include "FactoryEnvironment.h"

using LiveModule::DetectDirectories;
using LiveModule::QtVersionTags;

TEST(FactoryDirectories, DepthDecidesEveryFolder) {
    auto deep = DetectDirectories("/opt/apps/host/modules/LiveModuleFactory/64bit/LiveModuleFactory.so", "/home/u/.local/share");
    EXPECT_EQ(deep.factoryDir, "/opt/apps/host/modules/LiveModuleFactory/64bit/");
    EXPECT_EQ(deep.modulesDir, "/opt/apps/host/modules/");
    EXPECT_EQ(deep.configDir, "/opt/apps/host/config/");
    EXPECT_EQ(deep.logDir, "/opt/apps/host/logs/");
    EXPECT_EQ(deep.tempDir, "/home/u/.local/share/Temp/apps/host/");

    // Four separators: the root is empty text, so there is no parent to name a temp folder after.
    auto shallow = DetectDirectories("/a/b/c/lib.so", "/data");
    EXPECT_EQ(shallow.factoryDir, "/a/b/c/");
    EXPECT_EQ(shallow.modulesDir, "/a/");
    EXPECT_EQ(shallow.configDir, "/config/");
    EXPECT_EQ(shallow.logDir, "/logs/");
    EXPECT_EQ(shallow.tempDir, "");

    // Five: the root's parent is empty text, which holds no separator either.
    auto five = DetectDirectories("/r/a/b/c/lib.so", "/data");
    EXPECT_EQ(five.configDir, "/r/config/");
    EXPECT_EQ(five.tempDir, "");

    auto six = DetectDirectories("/p/r/a/b/c/lib.so", "/data");
    EXPECT_EQ(six.tempDir, "/data/Temp/p/r/");
    EXPECT_EQ(DetectDirectories("/p/r/a/b/c/lib.so", "").tempDir, "") << "no home, no data folder";

    auto twoLevels = DetectDirectories("/b/lib.so", "/data");
    EXPECT_EQ(twoLevels.factoryDir, "/b/");
    EXPECT_EQ(twoLevels.modulesDir, "");
    EXPECT_EQ(twoLevels.configDir, "");

    auto bare = DetectDirectories("lib.so", "/data");
    EXPECT_EQ(bare.factoryDir, "");
    EXPECT_EQ(bare.logDir, "");
}

TEST(QtVersionTags, PartnersFollowTheHostTag) {
    EXPECT_EQ(QtVersionTags("6_3_1_0"), (std::vector<std::string>{"6_3_1_0", "6_4_1_0"}));
    EXPECT_EQ(QtVersionTags("6_4_1_0"), (std::vector<std::string>{"6_4_1_0", "6_3_1_0"}));
    EXPECT_EQ(QtVersionTags("5_15_2_0"), (std::vector<std::string>{"5_15_2_0"}));
    EXPECT_EQ(QtVersionTags(""), (std::vector<std::string>{""}));
    EXPECT_EQ(LiveModule::QtTagFromVersion("6.4.1.0"), "6_4_1_0");
}
