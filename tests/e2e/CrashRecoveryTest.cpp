#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace {

using lmtest::Deployment;
using lmtest::Entry;

// lm-host on a tree, as a process the test can kill; with `killAt`, the host ends itself at that
// kill point of the test build.
pid_t StartHost(const lmtest::InstallationTree& tree, const std::string& output, const std::string& killAt = "") {
    return lmtest::SpawnHost(tree, output, {"--env", "0", "--run-for", "60"},
                             killAt.empty() ? std::vector<std::string>{} : std::vector<std::string>{"LIVEMODULE_TEST_KILL_AT=" + killAt});
}

// How many runs have reported a started factory in `output`.
size_t Started(const std::string& output) {
    return lmtest::Count(lmtest::Exists(output) ? lmtest::ReadFile(output) : "", "lm-host: factory started");
}

// Waits until `done` holds or the child has ended (`ended`, its status in `status`); false on timeout.
bool WaitFor(pid_t child, const std::function<bool()>& done, int& status, bool& ended, int seconds = 60) {
    ended = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child, &status, WNOHANG) == child) return ended = true;
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

int Stop(pid_t child, int signal) {
    kill(child, signal);
    return lmtest::WaitStatus(child);
}

// Every module installed at the catalogue's version, byte for byte, and recorded so in a valid ModuleInfo.
bool Converged(const lmtest::InstallationTree& tree, const std::vector<std::string>& ids, std::string& why) {
    const std::string record = lmtest::Exists(tree.modulesDir + "ModuleInfo") ? lmtest::ReadFile(tree.modulesDir + "ModuleInfo") : "";
    std::map<std::string, int> versions = lmtest::Versions(record);
    for (const std::string& id : ids) {
        if (versions[id] != 1) {
            why = id + " is recorded at " + std::to_string(versions[id]) + " in " + record;
            return false;
        }
        if (!tree.Holds(id, id)) {
            why = id + " is not installed completely";
            return false;
        }
    }
    return true;
}

}  // namespace

TEST(CrashRecovery, KillingTheHostAnywhereInDownloadsAndInstallsNeverLosesTheWay) {
    Deployment d(0);
    if (!d.server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    const std::vector<std::string> ids = {"m1", "m2", "m3", "m4"};
    std::vector<Entry> entries;
    for (const std::string& id : ids) {
        lmtest::PublishModule(d.packages, id, id, 768 << 10);
        entries.emplace_back(id, 1);
    }
    d.server->SetManifestText(lmtest::Manifest(entries));
    LiveModule::tools::ServerFaults slow;
    slow.packageChunkDelayMs = 2;
    d.server->SetFaults(slow);

    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        lmtest::InstallationTree tree(d.base.path() + "/round" + std::to_string(round));
        const std::string output = d.base.path() + "/out" + std::to_string(round) + ".txt";
        // Kill points spread over start-up, downloads and installs.
        const int killAfterMs = 30 + round * 37;
        pid_t host = StartHost(tree, output);
        std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
        Stop(host, SIGKILL);

        // The second run counts only once it is up: a tree the first run finished converges at
        // once, and the stop must not come before the host has started.
        const size_t startedBefore = Started(output);
        host = StartHost(tree, output);
        std::string why;
        int status = 0;
        bool ended = false;
        WaitFor(host, [&] { return Started(output) > startedBefore && Converged(tree, ids, why); }, status, ended);
        if (!ended) status = Stop(host, SIGTERM);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the second run ends cleanly";
        ASSERT_TRUE(Converged(tree, ids, why)) << "killed after " << killAfterMs << " ms: " << why << "\n" << tree.Log();
        for (const auto& item : std::filesystem::directory_iterator(tree.modulesDir + "Temp")) {
            EXPECT_EQ(item.path().extension(), ".zip") << "only waiting packages may stay: " << item.path();
        }
    }
}

// 1,000 current modules, each installed and recorded at the version the catalogue lists: the host
// is killed at steps of its start-up merge, and every next start must find all of them, delete no
// folder and fetch nothing.
TEST(CrashRecovery, KillingTheHostInsideAThousandModuleMergeDeletesAndFetchesNothing) {
    Deployment d(0);
    if (!d.server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    constexpr int kModules = 1000;
    std::vector<Entry> entries;
    std::vector<std::string> libraries;
    // The bytes the merge itself writes for this catalogue, so the record old and new are the same.
    std::string record = R"({"modules": [{"moduleName": "LiveModuleFactory", "name": "LiveModuleFactory", "version": 0})";
    for (int i = 0; i < kModules; ++i) {
        char id[16];
        std::snprintf(id, sizeof id, "m%04d", i);
        const std::string folder = d.tree.modulesDir + id + "/64bit/";
        std::filesystem::create_directories(folder);
        // One build copied into every folder; each copy reports its folder's name as its id.
        libraries.push_back(folder + id + "_6_3_1_0.so");
        std::filesystem::copy_file(LMTEST_FOLDER_ID_MODULE, libraries.back());
        entries.emplace_back(id, 1);
        record += std::string(R"(, {"disabled": false, "moduleName": "Module )") + id + R"(", "name": ")" + id +
                  R"(", "version": 1})";
    }
    record += "]}";
    lmtest::WriteFile(d.tree.modulesDir + "ModuleInfo", record);
    d.server->SetManifestText(lmtest::Manifest(entries));
    auto allInstalled = [&] {
        return std::all_of(libraries.begin(), libraries.end(), [](const std::string& file) { return lmtest::Exists(file); });
    };
    const std::string output = d.base.path() + "/out.txt", loaded = "[LiveModuleFactory] Load module success";

    // The catalogue lists the factory first: entry #2 is the first module.
    size_t round = 0;
    for (const std::string point : {"merge.entry#1", "merge.entry#2", "merge.entry#3", "merge.entry#501",
                                    "merge.entry#1001", "merge.saving", "merge.saved"}) {
        SCOPED_TRACE("killed at " + point);
        const pid_t killed = StartHost(d.tree, output, point);
        int status = 0;
        bool ended = false;
        if (!WaitFor(killed, [] { return false; }, status, ended, 120)) Stop(killed, SIGKILL);
        ASSERT_TRUE(ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the kill point was reached";
        EXPECT_EQ(d.ModuleInfo(), record) << "the record on disk is whole";
        EXPECT_TRUE(allInstalled());

        const size_t startedBefore = Started(output);
        const pid_t host = StartHost(d.tree, output);
        WaitFor(host, [&] { return Started(output) > startedBefore; }, status, ended, 120);
        const int stopped = ended ? status : Stop(host, SIGTERM);
        EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << "the restart ends cleanly";
        ++round;
        ASSERT_EQ(d.CountLogLines(loaded), round * kModules) << "every module runs after the restart";
        EXPECT_TRUE(allInstalled()) << "no module folder was deleted";
        EXPECT_EQ(d.server->TotalPackageRequests(), 0) << "nothing installed was fetched";
        EXPECT_EQ(d.ModuleInfo(), record);
    }
}

namespace {

const std::vector<std::string> kUpdated = {"m1", "m2", "m3"};

// Release 1 of every module installed and recorded, as a finished earlier run leaves them.
void InstallReleaseOne(const lmtest::InstallationTree& tree) {
    nlohmann::json modules = nlohmann::json::array({{{"moduleName", "LiveModuleFactory"}, {"name", "LiveModuleFactory"},
                                                     {"version", 0}}});
    for (const std::string& id : kUpdated) {
        tree.AddPackage(id, id);
        modules.push_back({{"disabled", false}, {"moduleName", "Module " + id}, {"name", id}, {"version", 1}});
    }
    lmtest::WriteFile(tree.modulesDir + "ModuleInfo", nlohmann::json{{"modules", modules}}.dump());
}

size_t LoadsOf(const lmtest::InstallationTree& tree, const std::string& id) {
    return lmtest::Count(tree.Log(), "[LiveModuleFactory] Load module success {id: " + id + ",");
}

}  // namespace

// Release 1 of three modules runs; the catalogue offers release 2. The host is killed at one point of
// the update per round: while packages download, between download, check, record and install, in
// the middle of extracting, after assembling the new release, right after the exchange, after the
// clean-up. After each kill the next start loads every module whole at release 1 or 2, and the
// starts after it converge on release 2, recorded as such.
TEST(CrashRecovery, AKillAtAnyPointOfAnUpdateLeavesEveryModuleAtAWholeReleaseAndTheRecordAgrees) {
    Deployment d(0);
    if (!d.server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    std::vector<Entry> entries;
    for (const std::string& id : kUpdated) {
        lmtest::PublishModule(d.packages, id, id + "_v2", 256 << 10);
        entries.emplace_back(id, 2);
    }
    d.server->SetManifestText(lmtest::Manifest(entries));
    // Each point is passed once per package (#N: the N-th pass in a process). Download points pass
    // in the run that downloads; install points in the next start, which installs what waits.
    const std::vector<std::string> points = {
        "<transfer>",  // the host is killed while all three packages are being transferred
        "download.finished#1", "download.finished#3", "download.accepted#1", "download.accepted#2",
        "download.accepted#3", "download.recorded#1", "download.recorded#3", "unzip.entry#1", "unzip.entry#2",
        "unzip.entry#4", "unzip.entry#7", "install.extracted#1", "install.extracted#3", "install.assembled#1",
        "install.assembled#2", "install.assembled#3", "install.swapped#1", "install.swapped#2", "install.swapped#3",
        "install.finished#1", "install.finished#3"};
    for (size_t round = 0; round < points.size(); ++round) {
        const std::string& point = points[round];
        SCOPED_TRACE("kill point " + point);
        lmtest::InstallationTree tree(d.base.path() + "/point" + std::to_string(round));
        InstallReleaseOne(tree);
        const std::string output = d.base.path() + "/out" + std::to_string(round) + ".txt";
        const auto cyclesFinished = [&] { return lmtest::Count(tree.Log(), "[LiveModuleUpdater] Modules update finished"); };
        int status = 0;
        bool ended = false;
        if (point == "<transfer>") {
            LiveModule::tools::ServerFaults slow;
            slow.packageChunkDelayMs = 2;
            d.server->SetFaults(slow);
            const pid_t host = StartHost(tree, output);
            ASSERT_TRUE(WaitFor(host, [&] { return d.server->ConcurrentPackages() == 3; }, status, ended) && !ended);
            Stop(host, SIGKILL);
            d.server->SetFaults(LiveModule::tools::ServerFaults());
        } else {
            // The first run downloads (and is killed there, or stops once its cycle is over); the second
            // installs what waits, before it loads modules.
            for (int run = 0; run < 2 && !ended; ++run) {
                const size_t cycles = cyclesFinished(), starts = Started(output);
                const pid_t host = StartHost(tree, output, point);
                const auto passedBy = [&] { return run == 0 ? cyclesFinished() > cycles : Started(output) > starts; };
                ASSERT_TRUE(WaitFor(host, passedBy, status, ended)) << tree.Log();
                if (!ended) Stop(host, SIGTERM);
            }
            ASSERT_TRUE(ended && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the point was never passed";
        }

        // The next start loads every module, each whole at release 1 or 2.
        std::map<std::string, size_t> loadsBefore;
        for (const std::string& id : kUpdated) loadsBefore[id] = LoadsOf(tree, id);
        size_t started = Started(output);
        pid_t host = StartHost(tree, output);
        ASSERT_TRUE(WaitFor(host, [&] { return Started(output) > started; }, status, ended) && !ended) << tree.Log();
        for (const std::string& id : kUpdated) {
            EXPECT_TRUE(tree.Holds(id, id) || tree.Holds(id, id + "_v2")) << id << " is not a whole release";
            EXPECT_EQ(LoadsOf(tree, id), loadsBefore[id] + 1) << id << " did not load";
        }
        // Once its downloads are recorded, the start after it installs what waits: release 2 everywhere.
        const auto allRecorded = [&] {
            const auto versions = lmtest::Versions(lmtest::ReadFile(tree.modulesDir + "ModuleInfo"));
            for (const std::string& id : kUpdated) if (versions.count(id) == 0 || versions.at(id) != 2) return false;
            return true;
        };
        ASSERT_TRUE(WaitFor(host, allRecorded, status, ended) && !ended) << tree.Log();
        EXPECT_EQ(Stop(host, SIGTERM), 0);
        started = Started(output);
        host = StartHost(tree, output);
        ASSERT_TRUE(WaitFor(host, [&] { return Started(output) > started; }, status, ended) && !ended) << tree.Log();
        EXPECT_EQ(Stop(host, SIGTERM), 0);
        for (const std::string& id : kUpdated) EXPECT_TRUE(tree.Holds(id, id + "_v2")) << id;
        EXPECT_TRUE(allRecorded()) << lmtest::ReadFile(tree.modulesDir + "ModuleInfo");
        EXPECT_TRUE(std::filesystem::is_empty(tree.modulesDir + "Temp")) << "nothing is left over";
        for (const std::string& id : kUpdated) {
            EXPECT_FALSE(lmtest::Exists(tree.modulesDir + id + "/.lm-starting")) << "no crash mark stays";
        }
    }
}
