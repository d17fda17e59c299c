#include <dlfcn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "HostFrontend.h"
#include "LogBridge.h"
#include "TestSupport.h"
#include "platform/FrontendApi.h"
#include "platform/VersionNote.h"

// The test program is the host; its own version note is what a host without version export reports.
LIVEMODULE_VERSION_NOTE("29.1.3");

namespace {

using lmtest::InstallationTree;
using lmtest::TempDir;

const char* const kBeginLine5 =
    "[LiveModuleFactory] Begin { evn: 5, api version: 202211110, obs version: 30.0.0, Qt Version: 6_3_1_0, verison: 1.0.0.5 }";
const char* const kEndLine = "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!";

size_t Find(const std::string& text, const std::string& what) {
    return text.find(what);
}

// Restores the host's version exports after a test changed them.
struct HostVersions {
    ~HostVersions() {
        LiveModule::host::SetHostVersion("30.0.0");
        LiveModule::host::SetQtVersion("6.3.1");
    }
};

}  // namespace

TEST(FactoryLifecycle, StartsInARealTreeAndTearsDownCompletely) {
    TempDir base;
    const std::string root = base.path() + "/apps/host";
    InstallationTree tree(root);
    // The per-installation temp folder is made one level deep, under a parent that must exist.
    const std::string appData = base.path() + "/xdg";
    std::filesystem::create_directories(appData + "/Temp/apps");
    setenv("XDG_DATA_HOME", appData.c_str(), 1);

    {
        const auto catalogue = lmtest::StartCatalogue(0);  // env 5 asks the default server
        lmtest::FactoryLibrary library(tree.factoryPath);
        int error = 12345;
        LiveModule::ILiveModuleFactory* factory = library.Load(5, &error);
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(error, 12345) << "error is written only on failure";
        EXPECT_EQ(factory->GetEnv(), 0) << "an out-of-range environment counts as 0";
        EXPECT_EQ(LiveModule::host::FrontendCallbackCount(), 1u);

        EXPECT_TRUE(lmtest::Exists(root + "/config")) << "created at start";
        EXPECT_TRUE(lmtest::Exists(root + "/logs"));
        EXPECT_EQ(std::string(factory->GetConfigDir()), root + "/config/");
        EXPECT_EQ(std::string(factory->GetLogDir()), root + "/logs/");
        EXPECT_EQ(std::string(factory->GetTempDir()), appData + "/Temp/apps/host/");
        EXPECT_TRUE(lmtest::Exists(appData + "/Temp/apps/host"));

        EXPECT_STREQ(factory->GetHostVersion(), "30.0.0");
        EXPECT_STREQ(factory->GetQtVersion(), "6_3_1_0");
        EXPECT_TRUE(factory->IsHostVersionAtMost("30.0.0"));
        EXPECT_TRUE(factory->IsHostVersionAtMost("30.0.1"));
        EXPECT_FALSE(factory->IsHostVersionAtMost("29.1.3"));
        EXPECT_FALSE(factory->IsHostVersionAtMost("not.a.version")) << "a malformed argument never throws";
        EXPECT_FALSE(factory->IsHostVersionAtMost(nullptr));
        EXPECT_EQ(factory->QueryModule("net_request", 0), nullptr);
        EXPECT_NE(factory->QueryModule("net_request", 1), nullptr);
        EXPECT_NE(factory->QueryModule("net_request", 202211110), nullptr);
        EXPECT_EQ(factory->QueryModule("net_request", 202211111), nullptr);
        EXPECT_EQ(factory->QueryModule(nullptr, 1), nullptr);
        library.Unload(factory);
        library.Unload(nullptr);
    }
    unsetenv("XDG_DATA_HOME");

    EXPECT_EQ(LiveModule::host::FrontendCallbackCount(), 0u) << "the event registration is removed";
    const std::string log = tree.Log();
    const size_t begin = Find(log, kBeginLine5);
    const size_t end = Find(log, kEndLine);
    ASSERT_NE(begin, std::string::npos) << log;
    ASSERT_NE(end, std::string::npos) << log;
    EXPECT_LT(begin, end);
    EXPECT_EQ(Find(log, "obs exit"), std::string::npos) << "no exit event was sent";
}

TEST(FactoryLifecycle, HostExitUninitialisesThenUnloadsEveryModuleOnce) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");
    tree.AddPackage("beta", "beta");
    lmtest::ClearJournal();
    const auto catalogue = lmtest::StartCatalogue(1);
    lmtest::FactoryLibrary library(tree.factoryPath);
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = library.Load(1, &error);
    ASSERT_NE(factory, nullptr) << error;

    // Registry order is the file system's enumeration order here (env 1: every zorder is 0).
    std::vector<std::string> order;
    for (const std::string& entry : lmtest::Journal()) {
        if (entry.size() > 5 && entry.substr(entry.size() - 5) == ":Load") order.push_back(entry.substr(0, entry.size() - 5));
    }
    ASSERT_EQ(order.size(), 2u);
    lmtest::ClearJournal();

    LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
    EXPECT_EQ(lmtest::Journal(), (std::vector<std::string>{order[0] + ":Uninitialize", order[1] + ":Uninitialize",
                                                           order[0] + ":Unload", order[1] + ":Unload"}));
    lmtest::ClearJournal();
    library.Unload(factory);
    EXPECT_TRUE(lmtest::Journal().empty()) << "teardown after the exit event calls no module again";

    const std::string log = tree.Log();
    ASSERT_NE(Find(log, "[LiveModuleFactory] obs exit"), std::string::npos);
    EXPECT_LT(Find(log, "[LiveModuleFactory] Begin"), Find(log, "[LiveModuleFactory] obs exit"));
    EXPECT_LT(Find(log, "[LiveModuleFactory] obs exit"), Find(log, kEndLine));
}

TEST(FactoryLifecycle, TeardownWithoutExitEventOnlyUnloadsModules) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");
    const auto catalogue = lmtest::StartCatalogue(1);
    lmtest::FactoryLibrary library(tree.factoryPath);
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = library.Load(1, &error);
    ASSERT_NE(factory, nullptr);
    lmtest::ClearJournal();
    library.Unload(factory);
    EXPECT_EQ(lmtest::Journal(), (std::vector<std::string>{"alpha:Unload"}));
}

TEST(FactoryLifecycle, VersionsComeFromHostExportsElseFromVersionNotes) {
    HostVersions restore;
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    // Only a build for 6_3_1_0: with the plug-in's 6.4.1.0 it is loaded as the fall-back.
    tree.AddPackage("alpha", "alpha", "6_3_1_0");
    LiveModule::host::SetHostVersion("");
    LiveModule::host::SetQtVersion("");
    lmtest::ClearJournal();
    {
        const auto catalogue = lmtest::StartCatalogue(1);
        lmtest::FactoryLibrary library(tree.factoryPath);
        int error = 0;
        LiveModule::ILiveModuleFactory* factory = library.Load(1, &error);
        ASSERT_NE(factory, nullptr);
        EXPECT_STREQ(factory->GetHostVersion(), "29.1.3") << "from the host executable's note";
        EXPECT_STREQ(factory->GetQtVersion(), "6_4_1_0") << "from platforms/libqxcb.so beside the host";
        EXPECT_NE(factory->QueryModule("alpha", 1), nullptr);
        library.Unload(factory);
    }
    EXPECT_NE(tree.Log().find("obs version: 29.1.3, Qt Version: 6_4_1_0"), std::string::npos) << tree.Log();
}

TEST(FactoryLifecycle, TooShallowForATempFolder) {
    // The root sits directly under "/": it has no parent folder to name a temp folder after.
    std::string pattern = "/lmshallow-XXXXXX";
    if (!mkdtemp(pattern.data())) GTEST_SKIP() << "cannot create a folder under /";
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{pattern};
    InstallationTree tree(pattern);
    const auto catalogue = lmtest::StartCatalogue(1);
    lmtest::FactoryLibrary library(tree.factoryPath);
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = library.Load(0 + 1, &error);
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(std::string(factory->GetConfigDir()), pattern + "/config/");
    EXPECT_STREQ(factory->GetTempDir(), "");
    library.Unload(factory);
    EXPECT_TRUE(lmtest::Exists(pattern + "/logs"));
}

TEST(LogBridge, ALibraryWithoutEveryExportIsReleasedAndLoggingStaysOff) {
    TempDir base;
    InstallationTree tree(base.path() + "/root", /*withLogLibrary=*/false);
    std::filesystem::copy_file(lmtest::BuiltModule("partiallog"), tree.factoryDir + "Log.so");
    const auto catalogue = lmtest::StartCatalogue(1);
    lmtest::FactoryLibrary library(tree.factoryPath);
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = library.Load(1, &error);
    ASSERT_NE(factory, nullptr) << "a factory without logging still works";
    EXPECT_EQ(dlopen((tree.factoryDir + "Log.so").c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr) << "not kept loaded";
    library.Unload(factory);
    EXPECT_EQ(tree.Log(), "");

    TempDir other;
    InstallationTree bare(other.path() + "/root", /*withLogLibrary=*/false);
    lmtest::FactoryLibrary bareLibrary(bare.factoryPath);
    factory = bareLibrary.Load(1, &error);
    ASSERT_NE(factory, nullptr);
    bareLibrary.Unload(factory);
    EXPECT_EQ(bare.Log(), "");
}

TEST(LogBridge, ComposedLinesAreWrittenAsTheyStandAndNothingAfterRelease) {
    TempDir logs;
    LiveModule::platform::LibraryHandle handle = nullptr;
    LiveModule::LoadLogLibrary(LMTEST_FACTORY_DIR "/", logs.path() + "/", handle);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(LiveModule::LogEntry(), nullptr);
    LiveModule::LogText(LiveModule::kLogError, "path /tmp/100%s/%d%n done");
    LM_LOG(LiveModule::kLogInfo, "formatted %s %d", "text", 7);
    LiveModule::ReleaseLogLibrary(handle);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(LiveModule::LogEntry(), nullptr) << "no line may reach a released library";
    LiveModule::LogText(LiveModule::kLogError, "dropped");

    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(logs.path())) text += lmtest::ReadFile(file.path());
    EXPECT_NE(text.find("path /tmp/100%s/%d%n done"), std::string::npos) << text;
    EXPECT_NE(text.find("formatted text 7"), std::string::npos) << text;
    EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST(LmHost, RunsTheFactoryAndExitsCleanly) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    const auto catalogue = lmtest::StartCatalogue(0);  // env 5 asks the default server
    const std::string command =
        std::string(LMTEST_LM_HOST) + " --factory '" + tree.factoryPath + "' --run-for 1 --env 5 > /dev/null";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::string log = tree.Log();
    const size_t begin = Find(log, kBeginLine5);
    const size_t exitLine = Find(log, "[LiveModuleFactory] obs exit");
    const size_t end = Find(log, kEndLine);
    ASSERT_NE(begin, std::string::npos) << log;
    ASSERT_NE(exitLine, std::string::npos) << log;
    ASSERT_NE(end, std::string::npos) << log;
    EXPECT_LT(begin, exitLine);
    EXPECT_LT(exitLine, end);
}
