#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

#include "FactoryTestSupport.h"
#include "HostFrontend.h"
#include "LogBridge.h"
#include "TestSupport.h"
#include "platform/DynamicLibrary.h"
#include "platform/FrontendApi.h"
#include "platform/ProcessInfo.h"
#ifndef _WIN32
#include "WritableRoot.h"
#include "platform/VersionNote.h"

// The test program is the host; its own version note is what a host without version export reports.
// (Windows: its version resource, with the same version, from tests/factory/CMakeLists.txt.)
LIVEMODULE_VERSION_NOTE("29.1.3");
#endif

namespace fs = std::filesystem;

namespace {

using lmtest::InstallationTree;
using lmtest::Lib;
using lmtest::Native;
using lmtest::StartedFactory;
using lmtest::TempDir;

const char* const kEndLine = "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!";

#ifdef _WIN32
// A Windows factory reads the host's version only from the executable's version resource: this program's.
const std::string kHostVersion = "29.1.3";
#else
// The version the host exports (lm_host_frontend's, unless a test changes it).
const std::string kHostVersion = "30.0.0";
#endif

// Whether `lines` appear in `text` in this order.
bool InOrder(const std::string& text, const std::vector<std::string>& lines) {
    size_t at = 0;
    for (const std::string& line : lines) {
        at = text.find(line, at);
        if (at == std::string::npos) return false;
    }
    return true;
}

}  // namespace

TEST(FactoryLifecycle, StartsInARealTreeAndTearsDownCompletely) {
    TempDir base;
#ifdef _WIN32
    // Local AppData comes from the shell, which no environment variable moves: the temporary folder is
    // made in the real one, named after a parent folder of this run's own, and removed at the end.
    const std::string parent = fs::path(base.path()).filename().string();
    const std::string appData = LiveModule::platform::GetLocalAppDataDir();
    ASSERT_FALSE(appData.empty());
    struct Cleanup {
        std::string dir;
        ~Cleanup() {
            std::error_code ignored;
            fs::remove_all(dir, ignored);
        }
    } cleanup{appData + "\\Temp\\" + parent};
#else
    const std::string parent = "apps";
    const std::string appData = base.path() + "/xdg";
    fs::create_directories(appData + "/Temp/apps");
    setenv("XDG_DATA_HOME", appData.c_str(), 1);
#endif
    const std::string root = Native(base.path() + "/" + parent + "/host");
    InstallationTree tree(root);
    {
        const auto catalogue = lmtest::StartCatalogue(0);  // env 5 asks the default server
        lmtest::FactoryLibrary library(tree.factoryPath);
        int error = 12345;
        LiveModule::ILiveModuleFactory* factory = library.Load(5, &error);
        ASSERT_NE(factory, nullptr);
        EXPECT_EQ(error, 12345) << "error is written only on failure";
        EXPECT_EQ(factory->GetEnv(), 0) << "an out-of-range environment counts as 0";
        EXPECT_EQ(LiveModule::host::FrontendCallbackCount(), 1u);
        EXPECT_TRUE(lmtest::Exists(Native(root + "/config")) && lmtest::Exists(Native(root + "/logs"))) << "created at start";
        EXPECT_EQ(std::string(factory->GetLogDir()), Native(root + "/logs/"));
        EXPECT_EQ(std::string(factory->GetTempDir()), Native(appData + "/Temp/" + parent + "/host/"));
        EXPECT_TRUE(lmtest::Exists(Native(appData + "/Temp/" + parent + "/host")));
        EXPECT_TRUE(factory->IsHostVersionAtMost("30.0.1"));
        EXPECT_FALSE(factory->IsHostVersionAtMost("29.1.2"));
        EXPECT_FALSE(factory->IsHostVersionAtMost("not.a.version")) << "a malformed argument never throws";
        library.Unload(factory);
        library.Unload(nullptr);
    }
#ifndef _WIN32
    unsetenv("XDG_DATA_HOME");
#endif
    EXPECT_EQ(LiveModule::host::FrontendCallbackCount(), 0u) << "the event registration is removed";
    EXPECT_TRUE(InOrder(tree.Log(), {"[LiveModuleFactory] Begin { evn: 5, api version: 202211110, obs version: " +
                                         kHostVersion + ", Qt Version: 6_3_1_0, verison: 1.0.0.5 }",
                                     kEndLine}))
        << tree.Log();
}

TEST(FactoryLifecycle, AFailedStartTearsEverythingDownAndPassesTheCodeOut) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");
    lmtest::FactoryLibrary library(tree.factoryPath);
    lmtest::ClearJournal();
    int error = 0;
    EXPECT_EQ(library.Load(2, &error), nullptr) << "nobody answers the catalogue query";
    EXPECT_EQ(error, -1);
    EXPECT_TRUE(lmtest::Journal().empty()) << "no module library was loaded";
    EXPECT_EQ(LiveModule::host::FrontendCallbackCount(), 0u);
    EXPECT_TRUE(InOrder(tree.Log(), {"[LiveModuleFactory] Begin { evn: 2", kEndLine})) << tree.Log();
}

TEST(FactoryLifecycle, HostExitUninitialisesThenUnloadsEveryModuleOnce) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    tree.AddPackage("alpha", "alpha");
    tree.AddPackage("beta", "beta");
    {
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr) << started.error;
        // Registry order is the file system's enumeration order here.
        const std::vector<std::string> order = lmtest::IdsThatReceived("Load");
        ASSERT_EQ(order.size(), 2u);
        lmtest::ClearJournal();
        LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
        EXPECT_EQ(lmtest::Journal(), (std::vector<std::string>{order[0] + ":Uninitialize", order[1] + ":Uninitialize",
                                                               order[0] + ":Unload", order[1] + ":Unload"}));
        lmtest::ClearJournal();
    }
    EXPECT_TRUE(lmtest::Journal().empty()) << "teardown after the exit event calls no module again";
    EXPECT_TRUE(InOrder(tree.Log(), {"[LiveModuleFactory] Begin", "[LiveModuleFactory] obs exit", kEndLine}));

    // Without an exit event a module receives only its unload.
    {
        StartedFactory started(tree);
        lmtest::ClearJournal();
    }
    EXPECT_EQ(lmtest::Journal().size(), 2u);
    EXPECT_EQ(lmtest::JournalOf("alpha:"), (std::vector<std::string>{"alpha:Unload"}));
}

TEST(FactoryLifecycle, VersionsComeFromHostExportsElseFromVersionNotes) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    // Only a build for 6_3_1_0: with the plug-in's 6.4.1.0 it is loaded as the fall-back.
    tree.AddPackage("alpha", "alpha", "6_3_1_0");
    LiveModule::host::SetHostVersion("");
    LiveModule::host::SetQtVersion("");
    {
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr);
        EXPECT_STREQ(started.factory->GetHostVersion(), "29.1.3") << "from the host executable's note or resource";
        EXPECT_STREQ(started.factory->GetQtVersion(), "6_4_1_0")
            << "from the Qt platform plug-in beside the host (platforms/libqxcb.so, platforms\\qwindows.dll)";
        EXPECT_NE(started.factory->QueryModule("alpha", 1), nullptr);
    }
    LiveModule::host::SetHostVersion("30.0.0");
    LiveModule::host::SetQtVersion("6.3.1");
    EXPECT_NE(tree.Log().find("obs version: 29.1.3, Qt Version: 6_4_1_0"), std::string::npos) << tree.Log();
}

// The root sits directly under the top of the file system ("/", or a drive's "C:\\"): it has no
// parent folder to name a temp folder after.
static void ExpectNoTempFolderForARootAtTheTop() {
#ifdef _WIN32
    std::string pattern = fs::temp_directory_path().root_path().string() + "lmshallow-" + std::to_string(std::random_device{}());
    std::error_code error;
    ASSERT_TRUE(fs::create_directory(pattern, error)) << "cannot create " << pattern << ": " << error.message();
#else
    std::string pattern = "/lmshallow-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "cannot create a folder under /: " << std::strerror(errno);
#endif
    struct Cleanup {
        std::string dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{pattern};
    InstallationTree tree(pattern);
    StartedFactory started(tree);
    ASSERT_NE(started.factory, nullptr);
    EXPECT_EQ(std::string(started.factory->GetConfigDir()), Native(pattern + "/config/"));
    EXPECT_STREQ(started.factory->GetTempDir(), "");
}

#ifndef _WIN32
// Linux only: the fresh account is made by pointing HOME at an empty folder. Windows asks the shell for
// Local AppData, which no environment variable moves; there the first test makes two missing levels.
TEST(FactoryLifecycle, MakesEveryMissingLevelOfItsTemporaryFolderOnAFreshAccount) {
    TempDir base;
    InstallationTree tree(base.path() + "/apps/host");
    const std::string home = base.path() + "/home";  // a new account: no ~/.local/share yet
    fs::create_directories(home);
    const std::string savedHome = getenv("HOME") ? getenv("HOME") : "";
    setenv("HOME", home.c_str(), 1);
    unsetenv("XDG_DATA_HOME");
    {
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr);
        EXPECT_EQ(std::string(started.factory->GetTempDir()), home + "/.local/share/Temp/apps/host/");
        EXPECT_TRUE(fs::is_directory(home + "/.local/share/Temp/apps/host"));
    }
    setenv("HOME", savedHome.c_str(), 1);
}
#endif

TEST(FactoryLifecycle, TooShallowForATempFolder) {
#ifdef _WIN32
    ExpectNoTempFolderForARootAtTheTop();  // a drive's top is writable (under Wine: the prefix's drive_c)
#else
    if (access("/", W_OK) == 0) return ExpectNoTempFolderForARootAtTheTop();
    // Who may not write "/" (a user, or root of a user namespace) gets a private one.
    const int status = lmtest::RunWithWritableRoot(ExpectNoTempFolderForARootAtTheTop);
    if (status == lmtest::kNoWritableRoot) GTEST_SKIP() << "\"/\" is not writable and no user namespace makes it so";
    EXPECT_EQ(status, 0) << "failed in its private root (see the messages above)";
#endif
}

TEST(LogBridge, ALibraryWithoutEveryExportIsReleasedAndLoggingStaysOff) {
    for (bool partial : {true, false}) {
        TempDir base;
        InstallationTree tree(base.path() + "/root", /*withLogLibrary=*/false);
        if (partial) fs::copy_file(lmtest::BuiltModule("partiallog"), tree.factoryDir + Lib("Log"));
        StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr) << "a factory without logging still works";
        EXPECT_FALSE(LiveModule::platform::IsLibraryLoaded(tree.factoryDir + Lib("Log"))) << "not kept loaded";
        EXPECT_EQ(tree.Log(), "");
    }
}

TEST(LogBridge, ComposedLinesAreWrittenAsTheyStandAndNothingAfterRelease) {
    TempDir logs;
    LiveModule::platform::LibraryHandle handle = nullptr;
    LiveModule::LoadLogLibrary(Native(LMTEST_FACTORY_DIR "/"), Native(logs.path() + "/"), handle);
    ASSERT_NE(handle, nullptr);
    LiveModule::LogText(LiveModule::kLogError, "path /tmp/100%s/%d%n done");
    LM_LOG(LiveModule::kLogInfo, "formatted %s %d", "text", 7);
    LiveModule::ReleaseLogLibrary(handle);
    EXPECT_EQ(LiveModule::LogEntry(), nullptr) << "no line may reach a released library";
    LiveModule::LogText(LiveModule::kLogError, "dropped");

    std::string text;
    for (const auto& file : fs::directory_iterator(logs.path())) text += lmtest::ReadFile(file.path().string());
    EXPECT_TRUE(InOrder(text, {"[error] path /tmp/100%s/%d%n done", "[info] formatted text 7"})) << text;
    EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST(LmHost, RunsTheFactoryAndExitsCleanly) {
    TempDir base;
    InstallationTree tree(base.path() + "/root");
    const auto catalogue = lmtest::StartCatalogue(0);
    EXPECT_EQ(lmtest::factory::RunProgram(Native(LMTEST_LM_HOST),
                                          {"--factory", tree.factoryPath, "--run-for", "1", "--env", "5"}),
              0);
    EXPECT_TRUE(InOrder(tree.Log(), {"[LiveModuleFactory] Begin { evn: 5, api version: 202211110, obs version: 30.0.0, "
                                     "Qt Version: 6_3_1_0, verison: 1.0.0.5 }",
                                     "[LiveModuleFactory] obs exit", kEndLine}))
        << tree.Log();
}
