#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace {

using lmtest::Deployment;
using lmtest::Entry;

// lm-host on a tree, as a separate process that the test can kill; `extraEnv` ("NAME=value") is
// added to its environment.
pid_t StartHost(const lmtest::InstallationTree& tree, const std::string& output, std::string extraEnv = "") {
    // Only async-signal-safe calls between fork and exec: this process runs server threads.
    std::vector<char*> env;
    for (char** item = environ; *item; ++item) env.push_back(*item);
    if (!extraEnv.empty()) env.push_back(extraEnv.data());
    env.push_back(nullptr);
    std::string factory = tree.factoryPath, host = "lm-host", factoryFlag = "--factory", envFlag = "--env", zero = "0",
                runFor = "--run-for", seconds = "120";
    char* const argv[] = {host.data(), factoryFlag.data(), factory.data(), envFlag.data(), zero.data(),
                          runFor.data(), seconds.data(), nullptr};
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        execve(LMTEST_LM_HOST, argv, env.data());
        _exit(127);
    }
    close(out);
    return child;
}

// How many runs have reported a started factory in `output`.
size_t Started(const std::string& output) {
    return lmtest::Count(lmtest::Exists(output) ? lmtest::ReadFile(output) : "", "lm-host: factory started");
}

// The child's wait status once it has ended by itself, or -1 when it still runs at the deadline.
int WaitForEnd(pid_t child, int seconds) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status;
}

int Stop(pid_t child, int signal) {
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    return status;
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while ((Started(output) == startedBefore || !Converged(tree, ids, why)) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const int status = Stop(host, SIGTERM);
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

    // The catalogue lists the factory first: step 1 is before the first module, 1001 before the
    // record is written, 1002 after it.
    size_t round = 0;
    for (const int step : {0, 1, 2, 500, 1000, 1001, 1002}) {
        SCOPED_TRACE("killed at step " + std::to_string(step));
        const pid_t killed = StartHost(d.tree, output, "LIVEMODULE_TEST_KILL_IN_MERGE=" + std::to_string(step));
        const int status = WaitForEnd(killed, 120);
        if (status == -1) Stop(killed, SIGKILL);
        ASSERT_TRUE(status != -1 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the kill point was reached";
        EXPECT_EQ(d.ModuleInfo(), record) << "the record on disk is whole";
        EXPECT_TRUE(allInstalled());

        const size_t startedBefore = Started(output);
        const pid_t host = StartHost(d.tree, output);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        while (Started(output) == startedBefore && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const int stopped = Stop(host, SIGTERM);
        EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << "the restart ends cleanly";
        ++round;
        ASSERT_EQ(d.CountLogLines(loaded), round * kModules) << "every module runs after the restart";
        EXPECT_TRUE(allInstalled()) << "no module folder was deleted";
        EXPECT_EQ(d.server->TotalPackageRequests(), 0) << "nothing installed was fetched";
        EXPECT_EQ(d.ModuleInfo(), record);
    }
}
