#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include <httplib.h>

#include "EndToEnd.h"

// What the host takes from a catalogue and its packages only when they are what they claim, and a
// module that took the host down.
namespace {

using namespace lmtest;

const std::string kVerifyFailed = "[LiveModuleUpdater] Module package verify failed {module: ";

Entry Vouched(const Deployment& d, const std::string& id, int version, const std::string& signingKey = "") {
    Entry entry(id, version);
    entry.ext = PackageExt(d.packages + "/" + id + ".zip", signingKey);
    return entry;
}

void AlterOneByte(const std::string& path) {
    std::string bytes = lmtest::ReadFile(path);
    bytes[bytes.size() / 2] ^= 0x20;
    lmtest::WriteFile(path, bytes);
}

}  // namespace

TEST(PackageTrust, APackageAlteredOnTheServerIsRefusedUntilTheRightOneIsServed) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishModule(d.packages, "m1", "m1");
    d.server->SetManifestText(Manifest({Vouched(d, "m1", 1)}));
    Host host(d);
    ASSERT_NE(host.factory, nullptr) << host.error;
    ASSERT_TRUE(PumpUntil([&] { return host.Running("m1"); }, kLong)) << d.tree.Log();

    PublishModule(d.packages, "m1", "m1_v2");
    const Entry release2 = Vouched(d, "m1", 2);
    AlterOneByte(d.packages + "/m1.zip");
    d.server->SetManifestText(Manifest({release2}));
    host.FireUpdateTimer();
    ASSERT_TRUE(PumpUntil([&] { return d.HasLogLine(kVerifyFailed + "m1}"); }, kLong)) << d.tree.Log();
    ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d, 2); }, kLong));
    EXPECT_TRUE(host.Running("m1") && d.InstalledFrom("m1", "m1")) << "release 1 keeps running";
    EXPECT_EQ(Versions(d.ModuleInfo())["m1"], 1) << "and stays recorded";
    EXPECT_TRUE(std::filesystem::is_empty(d.tree.modulesDir + "Temp")) << "the download is deleted";

    PublishModule(d.packages, "m1", "m1_v2");  // the bytes the entry vouches for
    host.FireUpdateTimer();
    ASSERT_TRUE(PumpUntil([&] { return Versions(d.ModuleInfo())["m1"] == 2; }, kLong)) << d.tree.Log();
    EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/m1.zip")) << "the next cycle fetched it; it waits for the next start";
    EXPECT_EQ(d.CountLogLines(kVerifyFailed), 1u);
}

TEST(PackageTrust, WithTheSigningKeyBuiltInOnlyPackagesSignedByItAreTakenTheFactorysIncluded) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    lmtest::UseHardenedFactory(d.tree);
    for (const char* id : {"m1", "m2", "m3"}) PublishModule(d.packages, id, id);
    lmtest::PublishFactory(d.packages);
    const std::string factoryZip = d.packages + "/LiveModuleFactory.zip";
    // m1 carries only a digest, m2 is signed by another key, m3 by the deployment's key; the
    // factory's own package is signed by another key first.
    const std::vector<Entry> modules{Vouched(d, "m1", 1), Vouched(d, "m2", 1, "other"), Vouched(d, "m3", 1, "signing")};
    d.server->SetManifestText(Manifest(modules, 1, PackageExt(factoryZip, "other")));
    {
        Host host(d);
        ASSERT_EQ(host.error, 0) << "a refused factory package does not stop the start\n" << d.tree.Log();
        ASSERT_TRUE(PumpUntil([&] { return host.Running("m3"); }, kLong)) << d.tree.Log();
        ASSERT_TRUE(PumpUntil([&] { return UpdateFinished(d); }, kLong));
        EXPECT_FALSE(host.Running("m1") || host.Running("m2"));
    }
    for (const char* id : {"m1", "m2"}) {
        EXPECT_EQ(d.CountLogLines(kVerifyFailed + id + "}"), 1u) << id;
        EXPECT_FALSE(d.Installed(id)) << id;
    }
    EXPECT_EQ(d.CountLogLines(kVerifyFailed + "LiveModuleFactory}"), 2u) << "refused at start-up, and again in the cycle";
    EXPECT_TRUE(d.InstalledFrom("m3", "m3"));
    const auto recorded = Versions(d.ModuleInfo());
    EXPECT_EQ(recorded.count("m1") + recorded.count("m2"), 0u);
    EXPECT_EQ(recorded.at("LiveModuleFactory"), 0) << "the refused factory package is not recorded";

    // Signed by the deployment's key, the factory's package is taken and handed to the loader.
    d.server->SetManifestText(Manifest(modules, 1, PackageExt(factoryZip, "signing")));
    Host next(d);
    EXPECT_EQ(next.error, -2) << d.tree.Log();
    EXPECT_TRUE(lmtest::Exists(d.tree.modulesDir + "Temp/LiveModuleFactory/64bit/LiveModuleFactory.so"));
}

TEST(CrashMark, AModuleThatCrashesTheHostIsSkippedUntilANewReleaseOfItIsInstalled) {
    Deployment d(0);
    REQUIRE_SERVER(d);
    PublishModule(d.packages, "m1", "m1");
    PublishModule(d.packages, "crashload", "crashload");
    // m1 is fetched and installed first; crashload takes the host down when it is hot-loaded.
    d.server->SetManifestText(Manifest({{"m1", 1, 0}}));
    { Host first(d); ASSERT_TRUE(PumpUntil([&] { return first.Running("m1"); }, kLong)) << d.tree.Log(); }
    d.server->SetManifestText(Manifest({{"m1", 1, 0}, {"crashload", 1, 1}}));

    const std::string output = d.base.path() + "/host.txt";
    const int status = lmtest::WaitStatus(lmtest::SpawnHost(d.tree, output, {"--env", "0", "--run-for", "60"}));
    // A signal, or AddressSanitizer's exit after it reported the invalid write.
    ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 1))
        << "the first start dies in crashload's LiveModuleLoad\n" << d.tree.Log();

    {
        Host second(d);
        ASSERT_EQ(second.error, 0);
        EXPECT_TRUE(d.HasLogLine("[LiveModuleFactory] Module skipped after a crash { id: crashload }")) << d.tree.Log();
        EXPECT_TRUE(second.Running("m1")) << "every other module loads";
        EXPECT_FALSE(second.Running("crashload"));
    }
    {
        Host third(d);
        EXPECT_EQ(d.CountLogLines("[LiveModuleFactory] Module skipped after a crash { id: crashload }"), 2u)
            << "skipped again while the same release is installed";
        PublishModule(d.packages, "crashload", "crashload_fixed");
        d.server->SetManifestText(Manifest({{"m1", 1, 0}, {"crashload", 2, 1}}));
        third.FireUpdateTimer();
        ASSERT_TRUE(PumpUntil([&] { return third.Running("crashload"); }, kLong)) << d.tree.Log();
        EXPECT_TRUE(third.Running("m1"));
    }
    Host fourth(d);
    EXPECT_TRUE(fourth.Running("crashload") && fourth.Running("m1")) << "the fixed release loads at every start";
}

namespace {

// Serves /quick over TLS on 127.0.0.1 with tests/keys/<name>.crt.
struct TlsServer {
    explicit TlsServer(const std::string& name)
        : http((LMTEST_KEYS_DIR "/" + name + ".crt").c_str(), (LMTEST_KEYS_DIR "/" + name + ".key").c_str()) {
        http.Get("/quick", [](auto&, auto& response) { response.set_content("quick", "text/plain"); });
        url = "https://127.0.0.1:" + std::to_string(http.bind_to_any_port("127.0.0.1")) + "/quick";
        listener = std::thread([this] { http.listen_after_bind(); });
    }
    ~TlsServer() { http.stop(); listener.join(); }
    httplib::SSLServer http;
    std::string url;
    std::thread listener;
};

}  // namespace

TEST(CertificateChecks, ModulesRequestsAreCheckedOnlyWhenTheFactoryWasBuiltToCheckThem) {
    TlsServer trusted("tls"), untrusted("untrusted");  // tls.crt is the hardened build's bundle
    struct Case {
        bool hardened;
        const TlsServer& server;
        bool taken;
    };
    for (const Case& c : std::vector<Case>{{false, trusted, true}, {false, untrusted, true},
                                            {true, trusted, true}, {true, untrusted, false}}) {
        SCOPED_TRACE(std::string(c.hardened ? "checking" : "default") + " factory, " +
                     (&c.server == &trusted ? "trusted" : "untrusted") + " server");
        lmtest::TempDir dir;
        lmtest::InstallationTree tree(dir.path());
        if (c.hardened) lmtest::UseHardenedFactory(tree);
        lmtest::StartedFactory started(tree);
        ASSERT_NE(started.factory, nullptr) << started.error;
        LiveModule::INetRequest* net = LiveModule::AsNetRequest(started.factory->QueryModule("net_request", 1));
        ASSERT_NE(net, nullptr);
        int owner = 0;
        LiveModule::stHttpRequest request;
        request.head.url = c.server.url.c_str();
        request.head.timeoutMs = 10000;
        request.head.isAsync = false;
        request.head.owner = &owner;
        EXPECT_EQ(net->HttpGet(&request) >= 0, c.taken);
    }
}
