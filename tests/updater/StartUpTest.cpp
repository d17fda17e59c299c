#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "OnlineUpdater.h"
#include "TestArchives.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::CatalogueOf;
using lmtest::ModuleEntry;

namespace {

// "name:version " of every record, in order.
std::string Listing(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& record : records) text += record.name + ":" + std::to_string(record.version) + " ";
    return text;
}

class OnlineStartUp : public lmtest::OnlineUpdater {};

class OnlineCycle : public lmtest::OnlineUpdater {
protected:
    void SetUp() override {
        OnlineUpdater::SetUp();
        lmtest::WriteFile(temp.path() + "/root/global.ini", "[General]\nUpdateIntervalInMin=1\n");
    }
    // Fires the update timer now and pumps until one more log line begins with `prefix`.
    bool Cycle(const std::string& level, const std::string& prefix) {
        const int before = log.CountStarting(level, prefix);
        if (!Peer::FireTimer(*updater)) return false;
        return lmtest::PumpUntil([&] { return log.CountStarting(level, prefix) > before; }, 20000);
    }
};

}  // namespace

TEST_F(OnlineStartUp, InstallsWaitingPackagesQueuesTheRestAndArmsTheTimerWhenDone) {
    lmtest::WriteFile(modules + "ModuleInfo", "{\"modules\": [{\"name\": \"waiting\", \"version\": 2}, "
                                              "{\"name\": \"reset\", \"version\": 0}]}");
    lmtest::WriteFile(modules + "reset/64bit/lib.so", "old");
    std::filesystem::create_directories(staging);
    lmtest::WriteZip(staging + "waiting.zip", {{"waiting/64bit/lib.so", "waited"}});
    for (const char* name : {"fresh", "reset"}) Publish(name, name);
    server->SetManifestText(CatalogueOf({ModuleEntry("waiting", 2), ModuleEntry("reset", 0), ModuleEntry("fresh", 1)}));

    ASSERT_EQ(updater->Init(modules, 0), 0);
    EXPECT_EQ(lmtest::ReadFile(modules + "waiting/64bit/lib.so"), "waited");
    EXPECT_FALSE(Peer::TimerArmed(*updater)) << "downloads are running";
    ASSERT_TRUE(PumpUntilFinished());
    std::sort(events.begin(), events.end());
    EXPECT_EQ(events, (std::vector<std::string>{"finished", "installed fresh", "installed reset"}));
    EXPECT_EQ(Listing(Peer::Local(*updater)), "waiting:2 reset:0 fresh:1 ");
    EXPECT_TRUE(Peer::TimerArmed(*updater)) << "armed once nothing runs";
    EXPECT_EQ(Peer::IntervalMs(*updater), 1800000u);

    EXPECT_EQ(updater->Init(modules, 0), 0);
    EXPECT_EQ(server->CatalogueRequests(), 1) << "a second Init does nothing";
}

TEST_F(OnlineStartUp, FailsWhenTheCatalogueOrTheFactoryPackageCannotBeHad) {
    const std::string kSyncFailed = "[LiveModuleUpdater] Sync get remote module info failed";
    const std::string kNoFactory = "[LiveModuleUpdater] Get factory module info failed";
    const std::string record = "{\"modules\": [{\"name\": \"kept\", \"version\": 3}]}";
    lmtest::WriteFile(modules + "ModuleInfo", record);
    // Init fails with exactly one of the given lines.
    auto expectFailure = [&](const std::string& what, const std::vector<std::string>& lines) {
        Renew();
        auto count = [&] {
            int sum = 0;
            for (const std::string& line : lines) sum += log.Count("error", line);
            return sum;
        };
        const int before = count();
        EXPECT_EQ(updater->Init(modules, 0), -1) << what;
        EXPECT_EQ(count(), before + 1) << what << "\n" << log.Text();
        EXPECT_EQ(lmtest::ReadFile(modules + "ModuleInfo"), record) << what;
        EXPECT_TRUE(events.empty()) << what;
    };
    tools::ServerFaults faults;
    faults.catalogueStatus = 500;
    server->SetFaults(faults);
    expectFailure("status 500", {kSyncFailed});
    EXPECT_NE(log.Text().find("[error] [LiveModuleUpdater] Http request failed {error: "), std::string::npos);

    faults = tools::ServerFaults();
    faults.truncateCatalogue = true;
    server->SetFaults(faults);
    expectFailure("truncated", {kSyncFailed, kNoFactory});

    const int parseFailures = log.Count("error", "[LiveModuleUpdater] Parse remote module info failed { invalid param }");
    for (const char* body : {"{\"error\": 0, \"data\": [", "{\"error\": 0, \"data\": []}", "<html>"}) {
        faults = tools::ServerFaults();
        faults.catalogueOverride = true, faults.catalogueBody = body;
        server->SetFaults(faults);
        expectFailure(body, {kNoFactory});
    }
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Parse remote module info failed { invalid param }"),
              parseFailures + 2);

    Publish(kFactoryModuleName);
    faults = tools::ServerFaults();
    faults.truncatePackages = true;  // a newer factory whose transfer breaks off
    server->SetFaults(faults);
    server->SetManifestText(CatalogueOf({}, 3));
    expectFailure("factory package missing", {"[LiveModuleUpdater] Sync download factory module failed"});

    server->Stop();
    expectFailure("nothing listens", {kSyncFailed});
}

TEST_F(OnlineStartUp, HandsADownloadedFactoryPackageToTheLoader) {
    Publish(kFactoryModuleName);
    server->SetManifestText(CatalogueOf({ModuleEntry("later", 1)}, 4));
    EXPECT_EQ(updater->Init(modules, 0), -2);
    EXPECT_TRUE(lmtest::Exists(staging + "LiveModuleFactory/64bit/lib.so"));
    EXPECT_EQ(Peer::FactoryVersion(*updater), 4);
    EXPECT_EQ(server->TotalPackageRequests(), 1) << "nothing else is fetched before the hand-over";

    Renew();
    EXPECT_EQ(updater->Init(modules, 0), -2);
    EXPECT_EQ(server->CatalogueRequests(), 1) << "the waiting package is handed over before any query";
    EXPECT_EQ(Peer::FactoryVersion(*updater), 0) << "not read before the hand-over";
}

TEST_F(OnlineCycle, TheTimerPicksUpCatalogueChangesAndSurvivesBadAnswers) {
    EXPECT_FALSE(Peer::FireTimer(*updater)) << "no timer before Init";
    ASSERT_EQ(updater->Init(modules, 0), 0);
    EXPECT_EQ(Peer::IntervalMs(*updater), 60000u);

    Publish("fresh");
    server->SetManifestText(CatalogueOf({ModuleEntry("fresh", 1)}));
    ASSERT_TRUE(Cycle("info", "[LiveModuleUpdater] Modules update finished"));
    EXPECT_EQ(events, (std::vector<std::string>{"installed fresh", "finished"}));
    EXPECT_EQ(Listing(Peer::Local(*updater)), "fresh:1 ");
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Modules update begin"), 1);

    tools::ServerFaults faults;
    faults.catalogueStatus = 404;
    server->SetFaults(faults);
    ASSERT_TRUE(Cycle("error", "[LiveModuleUpdater] Http request failed {error: "));
    faults.catalogueStatus = 200, faults.catalogueOverride = true, faults.catalogueBody = "{\"error\": 7}";
    server->SetFaults(faults);
    ASSERT_TRUE(Cycle("error", "[LiveModuleUpdater] Parse remote module info failed\n"));
    EXPECT_EQ(Listing(Peer::Local(*updater)), "fresh:1 ") << "a failed cycle changes nothing";
    EXPECT_EQ(events.size(), 2u);

    server->SetFaults(tools::ServerFaults());
    server->SetManifestText(CatalogueOf({}));
    const int requests = server->CatalogueRequests();
    ASSERT_TRUE(Peer::FireTimer(*updater));
    ASSERT_TRUE(lmtest::PumpUntil([&] { return Count("offline fresh") == 1; }, 20000));
    EXPECT_EQ(server->CatalogueRequests(), requests + 1);
    EXPECT_TRUE(Peer::Local(*updater).empty());
}

TEST_F(OnlineCycle, NoAnswerReachesTheUpdaterAfterUninit) {
    ASSERT_EQ(updater->Init(modules, 0), 0);
    Publish("late");
    server->SetManifestText(CatalogueOf({ModuleEntry("late", 1)}));
    tools::ServerFaults slow;
    slow.catalogueDelayMs = 300;
    server->SetFaults(slow);
#ifdef LIVEMODULE_TEST_HOOKS
    ASSERT_TRUE(LiveModuleUpdater::FireUpdateTimerNow());  // what the exported hook runs
#else
    ASSERT_TRUE(Peer::FireTimer(*updater));
#endif
    ASSERT_TRUE(lmtest::PumpUntil([&] { return server->CatalogueRequests() == 2; }, 5000));
    updater->Uninit();
    EXPECT_FALSE(Peer::FireTimer(*updater)) << "the timer is gone";
    lmtest::PumpFor(800);  // well past the delayed answer

    EXPECT_TRUE(events.empty());
    EXPECT_EQ(server->TotalPackageRequests(), 0);
    EXPECT_TRUE(Peer::Local(*updater).empty() && Peer::Pending(*updater).empty());
    EXPECT_EQ(log.Text().find("Module download begin"), std::string::npos);
    EXPECT_EQ(log.Text().find("Http request failed"), std::string::npos);
}

#ifdef LIVEMODULE_TEST_HOOKS
TEST(FactoryTestHook, IsExportedByTheFactoryLibrary) {
    void* library = dlopen(LMTEST_FACTORY_DIR "/LiveModuleFactory.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto fire = reinterpret_cast<void (*)()>(dlsym(library, "LiveModuleTestFireUpdateTimer"));
    ASSERT_NE(fire, nullptr);
    fire();  // no updater in this copy of the library: nothing happens
    dlclose(library);
}
#endif
