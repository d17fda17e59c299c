// The factory's self-update as the loading program completes it: lm-host (through the handover
// library it shares with the OBS plug-in) starts, gets -2, and runs the packaged factory in the
// same process; killed at any step of that, the next start still ends with one whole factory.
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "../updater/TestArchives.h"
#include "EndToEnd.h"

namespace {

using lmtest::Deployment;
using lmtest::Exists;
using lmtest::ReadFile;

const std::string kOldVersion = "1.0.0.5";

// lm-host over the tree for one start (env 0, leaving at once), stdout and stderr appended to `output`.
int RunHost(const lmtest::InstallationTree& tree, const std::string& output, const std::string& abortAt = "") {
    std::vector<std::string> arguments = {"--run-for", "0"};
    if (!abortAt.empty()) arguments.insert(arguments.end(), {"--abort-at-handover", abortAt});
    return lmtest::WaitStatus(lmtest::SpawnHost(tree, output, arguments));
}

bool ExitedZero(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The version texts of the factory's Begin lines, in the order they were written.
std::vector<std::string> BeginVersions(const std::string& log) {
    static const std::regex begin(R"(\[LiveModuleFactory\] Begin \{[^\n]*verison: ([^ ]*) \})");
    std::vector<std::string> versions;
    for (std::sregex_iterator it(log.begin(), log.end(), begin), end; it != end; ++it) versions.push_back((*it)[1]);
    return versions;
}

void PublishFactoryPackage(const Deployment& d, const std::vector<lmtest::ZipEntry>& entries) {
    lmtest::WriteZip(d.packages + "/LiveModuleFactory.zip", entries);
    d.server->SetManifestText(lmtest::Manifest({{"alpha", 1}}, /*factoryVersion=*/5));
    lmtest::PublishModule(d.packages, "alpha", "alpha");
}

void PublishNextFactory(const Deployment& d) {
    PublishFactoryPackage(d, {lmtest::ZipEntry("LiveModuleFactory/64bit/"),
                              lmtest::UnixEntry("LiveModuleFactory/64bit/LiveModuleFactory.so",
                                                ReadFile(LMTEST_NEXT_FACTORY), 0100755)});
}

// One whole factory in place, the handover's folders and the package gone.
void ExpectSettled(const lmtest::InstallationTree& tree, const std::string& library) {
    EXPECT_EQ(ReadFile(tree.factoryPath), ReadFile(library));
    EXPECT_TRUE(Exists(tree.factoryDir + "Log.so")) << "files the package leaves out stay";
    EXPECT_TRUE(Exists(tree.factoryDir + "FileOperation"));
    for (const char* gone : {"LiveModuleFactory.old", "LiveModuleFactory.new", "Temp/LiveModuleFactory.zip",
                             "Temp/LiveModuleFactory"}) {
        EXPECT_FALSE(Exists(tree.modulesDir + gone)) << gone;
    }
}

}  // namespace

TEST(Handover, TheNewFactoryRunsInTheSameStartAndStaysForTheNext) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishNextFactory(d);
    const std::string out = d.base.path() + "/out.txt";
    const std::string original = ReadFile(d.tree.factoryPath);

    ASSERT_TRUE(ExitedZero(RunHost(d.tree, out))) << ReadFile(out);
    const std::string first = ReadFile(out);
    EXPECT_NE(first.find("lm-host: a new factory package is waiting; handing over to it"), std::string::npos) << first;
    EXPECT_NE(first.find("lm-host: the factory from the package has started"), std::string::npos) << first;
    EXPECT_EQ(lmtest::Count(first, "lm-host: factory started"), 1u);
    EXPECT_EQ(first.find("stays mapped"), std::string::npos) << "the released library must unload: " << first;
    // One process: the old code answered -2, the new code (same path, new text) then ran the start.
    EXPECT_EQ(BeginVersions(d.tree.Log()), (std::vector<std::string>{kOldVersion, LMTEST_NEXT_FACTORY_VERSION}));
    ExpectSettled(d.tree, LMTEST_NEXT_FACTORY);
    EXPECT_EQ(lmtest::Versions(d.ModuleInfo())["LiveModuleFactory"], 5);

    ASSERT_TRUE(ExitedZero(RunHost(d.tree, out)));
    EXPECT_EQ(BeginVersions(d.tree.Log()).back(), LMTEST_NEXT_FACTORY_VERSION);
    EXPECT_EQ(lmtest::Count(ReadFile(out), "handing over"), 1u) << "the next start has nothing to hand over";
    EXPECT_EQ(d.server->PackageRequests("LiveModuleFactory.zip"), 1);
    EXPECT_NE(original, ReadFile(d.tree.factoryPath));
}

// Packages the new factory cannot come from: the running one stays (or comes back), starts in the
// same run, and the package is gone so that later starts do not answer -2 again.
TEST(Handover, APackageThatCannotServeLeavesTheOldFactoryRunning) {
    const struct {
        const char* what;
        std::vector<lmtest::ZipEntry> entries;
        const char* says;
    } cases[] = {
        {"a library that does not load",
         {lmtest::UnixEntry("LiveModuleFactory/64bit/LiveModuleFactory.so", "not an ELF file", 0100755)},
         "lm-host: the new factory cannot be loaded; the earlier one is back"},
        {"no library at all",
         {lmtest::UnixEntry("LiveModuleFactory/64bit/readme.txt", "nothing here", 0100644)},
         "the factory package holds no 64bit/LiveModuleFactory.so"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Deployment d(0);
        REQUIRE_SERVER(d);
        PublishFactoryPackage(d, c.entries);
        const std::string original = ReadFile(d.tree.factoryPath);
        const std::string out = d.base.path() + "/out.txt";
        for (int start = 0; start < 2; ++start) ASSERT_TRUE(ExitedZero(RunHost(d.tree, out))) << ReadFile(out);
        EXPECT_NE(ReadFile(out).find(c.says), std::string::npos) << ReadFile(out);
        EXPECT_EQ(lmtest::Count(ReadFile(out), "lm-host: factory started"), 2u);
        EXPECT_EQ(lmtest::Count(ReadFile(out), "handing over"), 1u);
        EXPECT_EQ(BeginVersions(d.tree.Log()), std::vector<std::string>(3, kOldVersion));
        lmtest::WriteFile(d.base.path() + "/original.so", original);
        ExpectSettled(d.tree, d.base.path() + "/original.so");
    }
}

// Killed at each step of the handover, the host's next start ends with the new factory running
// and nothing of the handover left behind.
TEST(Handover, KilledAtAnyStepTheNextStartEndsWithOneWholeFactory) {
    for (const char* step : {"released", "staged", "old-set-aside", "new-in-place", "package-removed", "new-started"}) {
        SCOPED_TRACE(step);
        Deployment d(0);
        REQUIRE_SERVER(d);
        PublishNextFactory(d);
        const std::string out = d.base.path() + "/out.txt";
        const int killed = RunHost(d.tree, out, step);
        ASSERT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL) << ReadFile(out);

        ASSERT_TRUE(ExitedZero(RunHost(d.tree, out))) << ReadFile(out);
        EXPECT_EQ(lmtest::Count(ReadFile(out), "lm-host: factory started"), 1u) << ReadFile(out);
        EXPECT_EQ(BeginVersions(d.tree.Log()).back(), LMTEST_NEXT_FACTORY_VERSION);
        ExpectSettled(d.tree, LMTEST_NEXT_FACTORY);
    }
}
