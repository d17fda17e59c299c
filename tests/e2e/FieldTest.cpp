// Installations as users have them: roots under non-ASCII folders, damaged and hostile packages,
// module folders that are links, and catalogue answers that are not clean UTF-8.
#include <filesystem>

#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace {

namespace fs = std::filesystem;
using namespace lmtest;

const char* const kUnzipFailed = "[LiveModuleUpdater] Unzip module packet failed {path: ";

// One start of the host; when it fetches packages, it runs until they are in. False when the start failed.
bool StartAndSettle(Deployment& d, bool fetches, const std::function<void(Host&)>& whileRunning = {}) {
    const size_t finishedBefore = d.CountLogLines("[LiveModuleUpdater] Modules update finished");
    Host host(d);
    if (!host.factory) return false;
    if (fetches) {
        EXPECT_TRUE(PumpUntil([&] { return UpdateFinished(d, finishedBefore + 1); }, kLong)) << d.tree.Log();
    }
    if (whileRunning) whileRunning(host);
    return true;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(Field, RootsUnderNonAsciiFoldersInstallUpdateAndHandTheFactoryBackAsAnAsciiRootDoes) {
    for (const std::string folder : {"\xe7\x94\xa8\xe6\x88\xb7", "Zo\xc3\xab", "ascii"}) {
        Deployment d(0, folder + "/root");
        REQUIRE_SERVER(d);
        PublishModule(d.packages, "alpha", "alpha");
        d.server->SetManifestText(Manifest({{"alpha", 1}}));
        lmtest::ClearJournal();
        ASSERT_TRUE(StartAndSettle(d, true, [&](Host& host) {
            EXPECT_TRUE(host.Running("alpha")) << folder << " hot-loaded after its install";
            PublishModule(d.packages, "alpha", "alpha_v2");
            d.server->SetManifestText(Manifest({{"alpha", 2}}));
            host.FireUpdateTimer();
            EXPECT_TRUE(PumpUntil([&] { return UpdateFinished(d, 2); }, kLong)) << d.tree.Log();
        })) << folder;
        EXPECT_EQ(Versions(d.ModuleInfo()), (std::map<std::string, int>{{"LiveModuleFactory", 0}, {"alpha", 2}})) << folder;
        ASSERT_TRUE(StartAndSettle(d, false, [&](Host& host) { EXPECT_TRUE(host.Running("alpha")) << folder; })) << folder;
        EXPECT_TRUE(d.InstalledFrom("alpha", "alpha_v2")) << folder;
        EXPECT_EQ(d.server->PackageRequests("alpha.zip"), 2) << folder;
        EXPECT_FALSE(d.HasLogLine(kUnzipFailed)) << folder << d.tree.Log();

        // Any clean factory package is handed over; a small one keeps the test quick. It is fetched
        // once, then handed back at every start (until a loader takes it) before any module loads.
        lmtest::WriteZip(d.packages + "/LiveModuleFactory.zip", {{"LiveModuleFactory/64bit/LiveModuleFactory.so", "next"}});
        d.server->SetManifestText(Manifest({{"alpha", 2}}, /*factoryVersion=*/5));
        const char* const endLine = "[LiveModuleFactory] End!!!!!!!!!!!!!!!!!!";
        const size_t endsBefore = d.CountLogLines(endLine);
        lmtest::ClearJournal();
        for (int start = 0; start < 2; ++start) {
            Host host(d);
            EXPECT_EQ(host.factory, nullptr);
            EXPECT_EQ(host.error, -2) << folder << " start " << start;
        }
        EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/LiveModuleFactory/64bit/LiveModuleFactory.so")) << folder;
        EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/LiveModuleFactory.zip")) << folder;
        EXPECT_EQ(Versions(d.ModuleInfo())["LiveModuleFactory"], 5) << folder;
        EXPECT_EQ(d.server->PackageRequests("LiveModuleFactory.zip"), 1) << folder;
        EXPECT_TRUE(lmtest::Journal().empty()) << folder << ": no module was loaded";
        EXPECT_EQ(d.CountLogLines(endLine), endsBefore + 2) << folder;
    }
}

TEST(Field, ADamagedPackageFailsItsInstallAndTheInstalledModuleKeepsRunning) {
    for (const Damage damage : {Damage::BadCrc, Damage::EndsEarly, Damage::SizeTooLarge}) {
        Deployment d(0);
        REQUIRE_SERVER(d);
        PublishModule(d.packages, "alpha", "alpha");
        d.server->SetManifestText(Manifest({{"alpha", 1}}));
        ASSERT_TRUE(StartAndSettle(d, true));
        // A release whose library arrives damaged: downloaded while alpha runs, installed at the next start.
        PublishModule(d.packages, "alpha", "alpha_v2", 0, damage);
        d.server->SetManifestText(Manifest({{"alpha", 2}}));
        ASSERT_TRUE(StartAndSettle(d, true));
        lmtest::ClearJournal();
        ASSERT_TRUE(StartAndSettle(d, true, [&](Host& host) { EXPECT_TRUE(host.Running("alpha")) << int(damage); }));
        EXPECT_EQ(d.CountLogLines(kUnzipFailed + d.tree.modulesDir + "Temp/alpha.zip}"), 1u) << int(damage);
        EXPECT_TRUE(d.InstalledFrom("alpha", "alpha")) << int(damage) << ": the old library, whole";
        EXPECT_EQ(lmtest::JournalOf("alpha:Initialize").size(), 1u) << int(damage);
    }
}

TEST(Field, ALinkedModuleFolderLeavesItsTargetUntouchedByInstallAndRemoval) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    // A module author's working folder, linked in as the module's folder.
    const std::string work = d.base.path() + "/work/alpha", link = d.tree.modulesDir + "alpha";
    lmtest::WriteFile(work + "/64bit/alpha_6_3_1_0.so", lmtest::ReadFile(lmtest::BuiltModule("alpha")));
    lmtest::WriteFile(work + "/notes.txt", "work in progress");
    const auto workTree = lmtest::Tree(work);
    const auto untouched = [&] {
        return lmtest::Tree(work) == workTree && lmtest::ReadFile(work + "/notes.txt") == "work in progress" &&
               lmtest::ReadFile(work + "/64bit/alpha_6_3_1_0.so") == lmtest::ReadFile(lmtest::BuiltModule("alpha"));
    };
    fs::create_directory_symlink(work, link);
    PublishModule(d.packages, "alpha", "alpha_v2");
    d.server->SetManifestText(Manifest({{"alpha", 1}}));
    ASSERT_TRUE(StartAndSettle(d, true, [&](Host& host) { EXPECT_TRUE(host.Running("alpha")); }));
    EXPECT_TRUE(untouched());
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(link)) && d.InstalledFrom("alpha", "alpha_v2"))
        << "the link gave way to the installed package";

    fs::remove_all(link);
    fs::create_directory_symlink(work, link);
    d.server->SetManifestText(Manifest({}));  // alpha leaves the catalogue: its folder is removed
    ASSERT_TRUE(StartAndSettle(d, false));
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    EXPECT_TRUE(untouched());
}

TEST(Field, APackagePlantingFilesBesideItsFolderPlantsNothing) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    lmtest::WriteZip(d.packages + "/factory.zip", {{"LiveModuleFactory/64bit/LiveModuleFactory.so", "planted"}});
    const std::string factoryZip = lmtest::ReadFile(d.packages + "/factory.zip");
    lmtest::WriteZip(d.packages + "/alpha.zip",
                     {lmtest::UnixEntry("alpha/64bit/alpha_6_3_1_0.so", lmtest::ReadFile(lmtest::BuiltModule("alpha")), 0100755),
                      {"LiveModuleFactory.zip", factoryZip},
                      {"LiveModuleFactory/64bit/LiveModuleFactory.so", "planted"},
                      lmtest::UnixEntry("beta/64bit/beta_6_3_1_0.so", lmtest::ReadFile(lmtest::BuiltModule("beta")), 0100755),
                      {"alpha/../ModuleInfo", "{}"}});
    d.server->SetManifestText(Manifest({{"alpha", 1}}));
    ASSERT_TRUE(StartAndSettle(d, true, [&](Host& host) { EXPECT_TRUE(host.Running("alpha")); }));
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(StartAndSettle(d, false, [&](Host& host) {
            EXPECT_TRUE(host.Running("alpha"));
            EXPECT_FALSE(host.Running("beta"));
        })) << "no factory update from a module's package, start " << start;
    }
    EXPECT_TRUE(fs::is_empty(d.tree.modulesDir + "Temp"));
    EXPECT_FALSE(lmtest::Exists(d.tree.modulesDir + "beta"));
    EXPECT_EQ(Versions(d.ModuleInfo()), (std::map<std::string, int>{{"LiveModuleFactory", 0}, {"alpha", 1}}));
    EXPECT_EQ(d.CountLogLines("[LiveModuleUpdater] Skip package entry outside its folder"), 4u) << d.tree.Log();
}

TEST(Field, GbkBytesInOneCatalogueEntryCostNothingAndTheRecordSurvivesRestartsByteForByte) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishModule(d.packages, "alpha", "alpha");
    PublishModule(d.packages, "beta", "beta");
    // "模块" and "新版本" in GBK, and a Latin-1 letter: none of them UTF-8.
    std::string manifest = Replaced(Manifest({{"alpha", 1}, {"beta", 1}}), "\"Module alpha\"", "\"\xc4\xa3\xbf\xe9 Zo\xeb\"");
    manifest = Replaced(manifest, R"("ext": "{}")", "\"ext\": \"{\\\"update_tips\\\": \\\"\xd0\xc2\xb0\xe6\xb1\xbe\\\"}\"");
    d.server->SetManifestText(manifest);
    ASSERT_TRUE(StartAndSettle(d, true, [&](Host& host) { EXPECT_TRUE(host.Running("alpha") && host.Running("beta")); }));
    // Downloads record in the order they finish; the next merge puts the catalogue's order.
    ASSERT_TRUE(StartAndSettle(d, false));
    const std::string record = d.ModuleInfo();
    EXPECT_NE(record.find("\"moduleName\": \"\xc4\xa3\xbf\xe9 Zo\xeb\""), std::string::npos) << record;
    for (int start = 0; start < 2; ++start) {
        ASSERT_TRUE(StartAndSettle(d, false, [&](Host& host) { EXPECT_TRUE(host.Running("alpha") && host.Running("beta")); }));
        EXPECT_EQ(d.ModuleInfo(), record) << start;
    }
    EXPECT_EQ(d.server->TotalPackageRequests(), 2) << "the record was read back, so nothing was fetched again";
}

TEST(Field, AModuleWhoseIdDiffersFromItsFolderIsNotReinstalledWhileItRuns) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishModule(d.packages, "other", "alpha");  // the folder "other" holds a module that calls itself alpha
    d.server->SetManifestText(Manifest({{"other", 1}}));
    ASSERT_TRUE(StartAndSettle(d, true));
    lmtest::ClearJournal();
    ASSERT_TRUE(StartAndSettle(d, false, [&](Host& host) {
        ASSERT_TRUE(host.Running("alpha"));
        PublishModule(d.packages, "other", "alpha_v2");
        d.server->SetManifestText(Manifest({{"other", 2}}));
        host.FireUpdateTimer();
        EXPECT_TRUE(PumpUntil([&] { return d.server->PackageRequests("other.zip") == 2 && UpdateFinished(d, 2); }, kLong));
        EXPECT_EQ(lmtest::JournalOf("alpha:Initialize").size(), 1u) << "not loaded or initialised again";
        EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/other.zip")) << "the package waits for the next start";
        EXPECT_TRUE(d.InstalledFrom("other", "alpha"));
    }));
    ASSERT_TRUE(StartAndSettle(d, false));
    EXPECT_TRUE(d.InstalledFrom("other", "alpha_v2"));
}
