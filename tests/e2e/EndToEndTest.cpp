#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace {

using namespace lmtest;

// The deployment after a first start that installed `entries` (each published from the variant of its name).
void FirstStart(Deployment& d, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) PublishModule(d.packages, entry.name, entry.name);
    d.server->SetManifestText(Manifest(entries));
    Host host(d);
    ASSERT_NE(host.factory, nullptr) << host.error;
    ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d); }, kLong)) << d.tree.Log();
}

}  // namespace

TEST(EndToEnd, FirstStartInstallsEverythingInOrderAndASecondStartDownloadsNothing) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishModule(d.packages, "alpha", "alpha");
    PublishModule(d.packages, "beta", "beta");
    d.server->SetManifestText(Manifest({{"alpha", 3, 2}, {"beta", 4, 1}}));
    lmtest::ClearJournal();
    {
        Host host(d);
        ASSERT_NE(host.factory, nullptr) << host.error;
        ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d); }, kLong)) << d.tree.Log();
        EXPECT_EQ(host.RegistryOrder(), (std::vector<std::string>{"beta", "alpha"})) << "re-sorted by order";
        EXPECT_EQ(lmtest::IdsThatReceived("Initialize").size(), 2u);
        // Whichever came second was introduced to the first.
        EXPECT_EQ(lmtest::JournalOf("alpha:OnModuleLoaded(beta)").size() + lmtest::JournalOf("beta:OnModuleLoaded(alpha)").size(), 1u);
        EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Module download finished {module: alpha}"));
    }
    EXPECT_EQ(Versions(d.ModuleInfo()), (std::map<std::string, int>{{"LiveModuleFactory", 0}, {"alpha", 3}, {"beta", 4}}));
    EXPECT_EQ(d.ModuleInfo().find('\n'), std::string::npos);
    EXPECT_FALSE(lmtest::Exists(d.tree.modulesDir + "Temp/alpha.zip")) << "installed packages are removed";

    lmtest::ClearJournal();
    {
        Host host(d);
        ASSERT_NE(host.factory, nullptr);
        // Loaded at start, in zorder, from the record and the catalogue.
        EXPECT_EQ(host.RegistryOrder(), (std::vector<std::string>{"beta", "alpha"}));
        lmtest::PumpFor(300);
    }
    EXPECT_EQ(d.server->TotalPackageRequests(), 2);
    EXPECT_TRUE(d.HasLogLine("Load module success {id: beta, version: 1.0.0, zorder: 1, disabled: 0 }"));
}

// A timer cycle (fired early through the test hook) picks up the catalogue's changes.
TEST(EndToEnd, UpdatesWaitForARunningModuleAndNewModulesAreHotLoaded) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    lmtest::WriteFile(d.tree.root + "global.ini", "[General]\nUpdateIntervalInMin=1\n");
    FirstStart(d, {{"alpha", 1, 5}});

    lmtest::ClearJournal();
    {
        Host host(d);
        ASSERT_NE(host.factory, nullptr);
        ASSERT_TRUE(host.Running("alpha"));
        // A newer alpha, a new small beta (order 0) and a new slow gamma.
        PublishModule(d.packages, "alpha", "alpha_v2");
        PublishModule(d.packages, "beta", "beta");
        PublishModule(d.packages, "gamma", "gamma", 3 << 20);
        LiveModule::tools::ServerFaults slow;
        slow.packageChunkDelayMs = 5;
        d.server->SetFaults(slow);
        d.server->SetManifestText(Manifest({{"alpha", 2, 5}, {"beta", 1, 0}, {"gamma", 1, 9}}));
        host.FireUpdateTimer();
        ASSERT_TRUE(PumpUntil([&] { return host.Running("beta"); }, kLong)) << d.tree.Log();
        if (!UpdateFinished(d, 2)) {
            // Hot-loaded modules wait at the end of the registry until the update has finished.
            EXPECT_EQ(host.RegistryOrder(), (std::vector<std::string>{"alpha", "beta"}));
        }
        ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d, 2); }, kLong)) << d.tree.Log();
        EXPECT_EQ(host.RegistryOrder(), (std::vector<std::string>{"beta", "alpha", "gamma"}));
        EXPECT_EQ(lmtest::JournalOf("alpha:Load").size(), 1u) << "a running module is not replaced";
        EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/alpha.zip")) << "its package waits for the next start";
        EXPECT_EQ(Versions(d.ModuleInfo())["alpha"], 2);
        EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Modules update begin"));
    }
    {
        Host host(d);
        ASSERT_NE(host.factory, nullptr);
        EXPECT_TRUE(host.Running("alpha"));
    }
    EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Start install module {name: alpha}"));
    EXPECT_TRUE(d.InstalledFrom("alpha", "alpha_v2"));
    EXPECT_FALSE(lmtest::Exists(d.tree.modulesDir + "Temp/alpha.zip"));
}

TEST(EndToEnd, AModuleBelowItsRequiredVersionIsRemovedAndFetchedAgain) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    FirstStart(d, {{"alpha", 1}});
    PublishModule(d.packages, "alpha", "alpha_v2");
    d.server->SetManifestText(Manifest({{"alpha", 3, 0, /*required=*/2}}));
    Host host(d);
    ASSERT_NE(host.factory, nullptr);
    EXPECT_FALSE(host.Running("alpha"));
    EXPECT_FALSE(d.Installed("alpha")) << "an installed version below the required one is deleted at start";
    ASSERT_TRUE(PumpUntil([&] { return host.Running("alpha"); }, kLong)) << d.tree.Log();
    EXPECT_TRUE(d.InstalledFrom("alpha", "alpha_v2"));
    EXPECT_EQ(Versions(d.ModuleInfo())["alpha"], 3);
}

TEST(EndToEnd, AModuleLeftOutOfTheCatalogueIsRemovedOnlyInTheDefaultEnvironment) {
    for (int env : {0, 1}) {
        SCOPED_TRACE(env);
        Deployment d(env);
        REQUIRE_SERVER(d);
        FirstStart(d, {{"alpha", 1}, {"beta", 1}});
        d.server->SetManifestText(Manifest({{"beta", 1}}));
        Host host(d);
        ASSERT_NE(host.factory, nullptr);
        EXPECT_EQ(Versions(d.ModuleInfo()).count("alpha"), 0u) << "no longer recorded";
        if (env == 0) {
            EXPECT_FALSE(lmtest::Exists(d.tree.modulesDir + "alpha"));
            EXPECT_FALSE(host.Running("alpha"));
            EXPECT_TRUE(d.HasLogLine("[LiveModuleFactory] Module offline {name: alpha}"));
        } else {
            EXPECT_TRUE(d.Installed("alpha"));
            EXPECT_TRUE(host.Running("alpha"));
        }
        EXPECT_TRUE(host.Running("beta"));
    }
}

TEST(EndToEnd, BadCatalogueAnswersFailTheStartAndLoseNothing) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    FirstStart(d, {{"alpha", 1}});
    const std::string record = d.ModuleInfo();

    auto faults = [](auto change) {
        LiveModule::tools::ServerFaults f;
        change(f);
        return f;
    };
    using Case = std::tuple<const char*, int, LiveModule::tools::ServerFaults, const char*>;  // what, factory, faults, line
    for (const auto& [what, factoryVersion, fault, line] : std::vector<Case>{
             {"no factory entry", -1, {}, "[LiveModuleUpdater] Get factory module info failed"},
             {"status 500", 0, faults([](auto& f) { f.catalogueStatus = 500; }),
              "[LiveModuleUpdater] Sync get remote module info failed"},
             {"malformed JSON", 0, faults([](auto& f) { f.catalogueOverride = true, f.catalogueBody = R"({"error": 0, "data": [)"; }),
              "[LiveModuleUpdater] Parse remote module info failed { invalid param }"},
             {"truncated answer", 0, faults([](auto& f) { f.truncateCatalogue = true; }),
              "[LiveModuleUpdater] Get factory module info failed"}}) {
        SCOPED_TRACE(what);
        d.server->SetManifestText(Manifest({{"alpha", 1}}, factoryVersion));
        d.server->SetFaults(fault);
        lmtest::ClearJournal();
        {
            Host host(d);
            EXPECT_EQ(host.factory, nullptr);
            EXPECT_EQ(host.error, -1);
        }
        EXPECT_TRUE(d.HasLogLine(line)) << d.tree.Log();
        EXPECT_TRUE(lmtest::Journal().empty()) << "no module is loaded after a failed start";
        EXPECT_EQ(d.ModuleInfo(), record);
        EXPECT_TRUE(d.Installed("alpha"));
    }
    EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Http request failed {error: -1001, msg: "));

    // A truncated package: the start succeeds, the download fails, nothing installed changes.
    d.server->SetFaults({});
    PublishModule(d.packages, "alpha", "alpha_v2");
    d.server->SetManifestText(Manifest({{"alpha", 2}}));
    LiveModule::tools::ServerFaults truncated;
    truncated.truncatePackages = true;
    d.server->SetFaults(truncated);
    {
        Host host(d);
        ASSERT_NE(host.factory, nullptr);
        ASSERT_TRUE(PumpUntil([&] { return d.HasLogLine("[LiveModuleUpdater] Module download failed {error: -1001, module: alpha}"); },
                              kLong))
            << d.tree.Log();
        EXPECT_TRUE(host.Running("alpha"));
    }
    EXPECT_EQ(d.ModuleInfo(), record);
    EXPECT_TRUE(d.HasLogLine("Load module success {id: alpha, version: 1.0.0"));
}

TEST(EndToEnd, ACatalogueThatTimesOutFailsTheStart) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    FirstStart(d, {{"alpha", 1}});
    const std::string record = d.ModuleInfo();
    LiveModule::tools::ServerFaults faults;
    faults.catalogueDelayMs = 11000;  // beyond the 10 s the start-up query waits
    d.server->SetFaults(faults);
    Host host(d);
    EXPECT_EQ(host.factory, nullptr);
    EXPECT_EQ(host.error, -1);
    EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Http request failed {error: -1002, msg: "));
    EXPECT_TRUE(d.HasLogLine("[LiveModuleUpdater] Sync get remote module info failed"));
    EXPECT_EQ(d.ModuleInfo(), record);
}

TEST(EndToEnd, SevenPackagesDownloadAtMostFiveAtATime) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    std::vector<Entry> entries;
    for (int n = 1; n <= 7; ++n) {
        const std::string id = "m" + std::to_string(n);
        PublishModule(d.packages, id, id, 256 << 10);
        entries.push_back({id, 1, n});
    }
    d.server->SetManifestText(Manifest(entries));
    LiveModule::tools::ServerFaults slow;
    slow.packageChunkDelayMs = 10;
    d.server->SetFaults(slow);
    Host host(d);
    ASSERT_NE(host.factory, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d); }, kLong * 2)) << d.tree.Log();
    lmtest::PumpFor(200);
    EXPECT_EQ(d.server->MaxConcurrentPackages(), 5);
    EXPECT_EQ(d.CountLogLines("[LiveModuleUpdater] Modules update finished"), 1u);
    EXPECT_EQ(d.CountLogLines("[LiveModuleUpdater] Module download begin"), 7u);
    EXPECT_EQ(host.RegistryOrder(), (std::vector<std::string>{"m1", "m2", "m3", "m4", "m5", "m6", "m7"}));
}

TEST(EndToEnd, LmHostReportsAFailedStart) {
    Deployment d(2);
    REQUIRE_SERVER(d);
    d.server->Stop();  // nobody answers the catalogue query
    const std::string command = std::string(LMTEST_LM_HOST) + " --factory '" + d.tree.factoryPath +
                                "' --env 2 --run-for 5 > '" + d.base.path() + "/out.txt'";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_TRUE(d.HasLogLine("[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!"));
    // The code, then where the log is and the cause as the log gives it.
    const std::string log = d.tree.Log();
    const size_t lastError = log.rfind(" [error] ");
    ASSERT_NE(lastError, std::string::npos) << log;
    const size_t lineStart = log.rfind('\n', lastError) + 1;
    const std::string errorLine = log.substr(lineStart, log.find('\n', lastError) - lineStart);
    std::string logPath;
    for (const auto& file : std::filesystem::directory_iterator(d.tree.logDir))
        logPath = std::filesystem::weakly_canonical(file.path());
    EXPECT_EQ(lmtest::ReadFile(d.base.path() + "/out.txt"),
              "LoadLiveModuleFactory failed: error -1\nlm-host: factory log: " + logPath +
                  "\nlm-host: last error line: " + errorLine + "\n");
}
