#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "EndToEnd.h"

namespace {

using lmtest::Deployment;
using lmtest::Entry;

// lm-host on a tree, as a separate process that the test can kill.
pid_t StartHost(const lmtest::InstallationTree& tree, const std::string& output) {
    // Only async-signal-safe calls between fork and exec: this process runs server threads.
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out, STDOUT_FILENO);
        execl(LMTEST_LM_HOST, "lm-host", "--factory", tree.factoryPath.c_str(), "--env", "0", "--run-for", "60",
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out);
    return child;
}

// How many runs have reported a started factory in `output`.
size_t Started(const std::string& output) {
    return lmtest::Count(lmtest::Exists(output) ? lmtest::ReadFile(output) : "", "lm-host: factory started");
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
