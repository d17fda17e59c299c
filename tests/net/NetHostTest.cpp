#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include "../e2e/EndToEnd.h"

namespace {

// Waits up to `ms` for `done`, checking every few milliseconds; false on time-out.
bool WaitUntil(const std::function<bool()>& done, int ms) {
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms); !done();) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

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

    const std::string output = base.path() + "/host.txt";
    const auto said = [&] { return lmtest::Exists(output) ? lmtest::ReadFile(output) : ""; };
    const int host = lmtest::SpawnHost(tree, output, {"--env", "1"});  // environment 1 loads every installed package
    const bool busy = WaitUntil([&] { return said().find("[crosskind] rounds 2000") != std::string::npos; }, 120000);
    kill(host, busy ? SIGTERM : SIGKILL);
    ASSERT_TRUE(busy) << said();
    int status = -1;
    const bool ended = WaitUntil([&] { return waitpid(host, &status, WNOHANG) == host; }, 30000);
    if (!ended) kill(host, SIGKILL), waitpid(host, &status, 0);
    EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << said();
    EXPECT_NE(said().find("[crosskind] stopped after"), std::string::npos) << said();
    EXPECT_NE(said().find("lm-host: factory unloaded, exiting"), std::string::npos) << said();
}

TEST(NetHost, ACatalogueServerThatCompressesEveryAnswerStillInstallsAndSeesCurlsUserAgent) {
    lmtest::Deployment d(0);
    if (!d.server) GTEST_SKIP() << "this build's catalogue server for env 0 is not on loopback";
    LiveModule::tools::ServerFaults gzip;
    gzip.gzipAnswers = true;
    d.server->SetFaults(gzip);
    lmtest::PublishModule(d.packages, "alpha", "alpha");
    d.server->SetManifestText(lmtest::Manifest({{"alpha", 3}}));
    {
        lmtest::Host host(d);
        ASSERT_NE(host.factory, nullptr) << host.error << d.tree.Log();
        ASSERT_TRUE(lmtest::PumpUntil([&] { return d.CountLogLines("[LiveModuleUpdater] Modules update finished") > 0; }, 30000))
            << d.tree.Log();
        EXPECT_TRUE(host.Running("alpha")) << d.tree.Log();
    }
    EXPECT_TRUE(d.InstalledFrom("alpha", "alpha"));
    EXPECT_EQ(d.server->LastUserAgent(), std::string("curl/") + curl_version_info(CURLVERSION_NOW)->version);
}
