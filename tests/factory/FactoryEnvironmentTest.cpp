#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "FactoryEnvironment.h"

using LiveModule::DetectDirectories;
using LiveModule::QtVersionTags;

namespace {

// factory | modules | config | logs | temp
using Row = std::tuple<const char*, const char*, std::string>;

#ifdef _WIN32
// Paths as Windows gives them: "\" and a drive, whose root ("C:") is what a folder at its top is cut to.
const std::vector<Row> kRows = {
    {"C:\\opt\\apps\\host\\modules\\LiveModuleFactory\\64bit\\LiveModuleFactory.dll", "C:\\Users\\u\\AppData\\Local",
     "C:\\opt\\apps\\host\\modules\\LiveModuleFactory\\64bit\\|C:\\opt\\apps\\host\\modules\\|C:\\opt\\apps\\host\\config\\|"
     "C:\\opt\\apps\\host\\logs\\|C:\\Users\\u\\AppData\\Local\\Temp\\apps\\host\\"},
    // Four separators: the root is the drive, which has no parent to name a temp folder after.
    {"C:\\a\\b\\c\\lib.dll", "D:\\data", "C:\\a\\b\\c\\|C:\\a\\|C:\\config\\|C:\\logs\\|"},
    // Five: the root's parent is the drive, which holds no separator either.
    {"C:\\r\\a\\b\\c\\lib.dll", "D:\\data", "C:\\r\\a\\b\\c\\|C:\\r\\a\\|C:\\r\\config\\|C:\\r\\logs\\|"},
    {"C:\\p\\r\\a\\b\\c\\lib.dll", "D:\\data",
     "C:\\p\\r\\a\\b\\c\\|C:\\p\\r\\a\\|C:\\p\\r\\config\\|C:\\p\\r\\logs\\|D:\\data\\Temp\\p\\r\\"},
    {"C:\\p\\r\\a\\b\\c\\lib.dll", "", "C:\\p\\r\\a\\b\\c\\|C:\\p\\r\\a\\|C:\\p\\r\\config\\|C:\\p\\r\\logs\\|"},  // no data folder
    // A share's name counts as folders like any other.
    {"\\\\server\\share\\r\\a\\b\\c\\lib.dll", "D:\\data",
     "\\\\server\\share\\r\\a\\b\\c\\|\\\\server\\share\\r\\a\\|\\\\server\\share\\r\\config\\|"
     "\\\\server\\share\\r\\logs\\|D:\\data\\Temp\\share\\r\\"},
    {"C:\\b\\lib.dll", "D:\\data", "C:\\b\\||||"},
    {"lib.dll", "D:\\data", "||||"}};
#else
const std::vector<Row> kRows = {
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
    {"lib.so", "/data", "||||"}};
#endif

}  // namespace

TEST(FactoryDirectories, DepthDecidesEveryFolder) {
    for (const auto& [library, data, expected] : kRows) {
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
