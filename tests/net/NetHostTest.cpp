#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include <gtest/gtest.h>

#include "../e2e/EndToEnd.h"

extern char** environ;

namespace {

using namespace std::chrono;

// lm-host over `tree` in environment `env`, its standard output read through a pipe.
struct HostProcess {
    HostProcess(const lmtest::InstallationTree& tree, int env) {
        int out[2];
        pipe(out);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string envText = std::to_string(env);
        const char* argv[] = {LMTEST_LM_HOST, "--factory", tree.factoryPath.c_str(), "--env", envText.c_str(), nullptr};
        posix_spawn(&pid, LMTEST_LM_HOST, &actions, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output = out[0];
    }
    ~HostProcess() {
        if (pid > 0 && !exited) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
        close(output);
    }
    // Reads output until it holds `text` or `ms` pass.
    bool Await(const std::string& text, int ms) {
        const auto deadline = steady_clock::now() + milliseconds(ms);
        while (seen.find(text) == std::string::npos) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
            pollfd fd{output, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) return false;
            char buffer[4096];
            const ssize_t got = read(output, buffer, sizeof buffer);
            if (got <= 0) return seen.find(text) != std::string::npos;
            seen.append(buffer, static_cast<size_t>(got));
        }
        return true;
    }
    // The exit status once the process ends within `ms`, else -1.
    int Exit(int ms) {
        for (const auto deadline = steady_clock::now() + milliseconds(ms); steady_clock::now() < deadline;) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                Await("\x01", 0);  // what it wrote last
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            Await("\x01", 20);
        }
        return -1;
    }
    pid_t pid = -1;
    int output = -1;
    bool exited = false;
    std::string seen;
};

}  // namespace

TEST(NetHost, AModuleSubmittingAndWithdrawingAcrossKindsFromItsCallbacksLeavesCleanlyOnSigterm) {
    lmtest::TempDir base;
    const std::string packages = base.path() + "/packages";
    std::filesystem::create_directories(packages);
    lmtest::WriteFile(packages + "/blob.bin", std::string(48 << 10, 'b'));
    lmtest::InstallationTree tree(base.path() + "/root");
    tree.AddPackage("crosskind", "crosskind");
    auto catalogue = lmtest::StartCatalogue(1, lmtest::FactoryOnlyManifest(), packages);
    if (!catalogue) GTEST_SKIP() << "this build's catalogue server for env 1 is not on loopback";
    std::filesystem::create_directories(tree.root + "config");
    lmtest::WriteFile(tree.root + "config/crosskind.url", catalogue->BaseUrl() + "packages/blob.bin\n");

    HostProcess host(tree, 1);  // environment 1 loads every installed package
    ASSERT_TRUE(host.Await("[crosskind] rounds 2000", 120000)) << host.seen;
    kill(host.pid, SIGTERM);
    EXPECT_EQ(host.Exit(30000), 0) << host.seen;
    EXPECT_NE(host.seen.find("[crosskind] stopped after"), std::string::npos) << host.seen;
    EXPECT_NE(host.seen.find("lm-host: factory unloaded, exiting"), std::string::npos) << host.seen;
}
