#include "UpdaterTestKit.h"
#include "net_request/NetRequest.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;

namespace {
// A catalogue answer: the factory at version 0, then the given entries.
std::string Catalogue(const std::string& entries) {
    return "{\"error\": 0, \"data\": [{\"name\": \"F\", \"orgname\": \"LiveModuleFactory.zip\", \"resver\": \"0\"}" +
           entries + "]}";
}
}  // namespace

// The updater over a real request service and a real catalogue server on the default environment's
// port (suites named Online* hold that port). First start, downloads, hot loads and timer cycles
// are the end-to-end tests'; this checks what they cannot see.
TEST(OnlineUpdater, StartsOnceRefetchesResetModulesAndIsSilentAfterUninit) {
    lmtest::TempDir temp;
    const std::string modules = temp.path() + "/root/modules/", packages = temp.path() + "/served/";
    std::filesystem::create_directories(packages);
    // A failed install left version 0; the catalogue lists the same version, so only start-up fetches it.
    lmtest::WriteFile(modules + "ModuleInfo", "{\"modules\": [{\"name\": \"reset\", \"version\": 0}]}");
    lmtest::WriteFile(modules + "reset/64bit/lib.so", "old");
    lmtest::WriteZip(packages + "reset.zip", {{"reset/64bit/lib.so", "new"}});
    const auto server = lmtest::StartCatalogue(
        0, Catalogue(", {\"name\": \"R\", \"orgname\": \"reset.zip\", \"pfile\": \"{base}packages/reset.zip\"}"), packages);
    if (!server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    // The server library sets up lazy tables on its first requests, out of ThreadSanitizer's sight;
    // done here, every handler thread later reaches them through the pool's lock. Neither is counted.
    httplib::Client warmUp("127.0.0.1", server->Port());
    warmUp.Get("/");
    warmUp.Head("/packages/none.zip");
    lmtest::LogCapture log;
    NetRequest net;
    ASSERT_TRUE(net.Initialize());
    std::vector<std::string> events;
    LiveModuleUpdater updater(&net,
                              {[&](std::string name) { events.push_back("installed " + name); },
                               [&](std::string name) { events.push_back("offline " + name); },
                               [&] { events.push_back("finished"); }},
                              "30.0.0");
    auto pumpUntilLogged = [&](const std::string& level, const std::string& line) {
        return lmtest::PumpUntil([&] { return log.Count(level, line) > 0; }, 20000);
    };

    ASSERT_EQ(updater.Init(modules, 0), 0);
    EXPECT_EQ(updater.Init(modules, 0), 0);
    ASSERT_TRUE(lmtest::PumpUntil([&] { return !events.empty() && events.back() == "finished"; }, 20000));
    EXPECT_EQ(events, (std::vector<std::string>{"installed reset", "finished"}));
    EXPECT_EQ(server->CatalogueRequests(), 1) << "a second Init does nothing";
    EXPECT_TRUE(lmtest::Exists(modules + "Temp/reset.zip"));

    // A cycle whose answer is rejected changes nothing: no module goes offline.
    tools::ServerFaults faults;
    faults.catalogueOverride = true, faults.catalogueBody = "{\"error\": 7}";
    server->SetFaults(faults);
    ASSERT_TRUE(Peer::FireTimer(updater));
    ASSERT_TRUE(pumpUntilLogged("error", "[LiveModuleUpdater] Parse remote module info failed"));

    // An answer that would take the module offline comes after Uninit: it never arrives.
    faults = tools::ServerFaults();
    faults.catalogueDelayMs = 300;
    server->SetFaults(faults);
    server->SetManifestText(Catalogue(""));
    ASSERT_TRUE(Peer::FireTimer(updater));
    ASSERT_TRUE(lmtest::PumpUntil([&] { return server->CatalogueRequests() == 3; }, 5000));
    updater.Uninit();
    EXPECT_FALSE(Peer::FireTimer(updater)) << "the timer is gone";
    lmtest::PumpFor(800);  // well past the delayed answer
    EXPECT_EQ(events.size(), 2u);
    EXPECT_EQ(lmtest::Listing(Peer::Local(updater)), "reset:0 ");
    EXPECT_EQ(log.Text().find("Http request failed"), std::string::npos);
}
