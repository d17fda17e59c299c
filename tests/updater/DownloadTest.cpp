#include <gtest/gtest.h>

#include "OnlineUpdater.h"
#include "updater/ModuleInfoFile.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;

namespace {

class OnlineDownloads : public lmtest::OnlineUpdater {
protected:
    void SetUp() override {
        OnlineUpdater::SetUp();
        if (updater) Peer::Open(*updater, modules);
    }
    ModuleRecord Served(const std::string& name, int32_t version) const {
        ModuleRecord record;
        record.name = name, record.moduleName = "Shown " + name, record.version = version;
        record.packageUrl = server->BaseUrl() + "packages/" + name + ".zip";
        return record;
    }
    ModuleRecord LocalOf(const std::string& name) {
        ModuleRecord record;
        record.name = name;
        EXPECT_TRUE(updater->GetModuleRecord(record)) << name;
        return record;
    }
};

}  // namespace

TEST_F(OnlineDownloads, SevenPackagesRunFiveAtATimeAndFinishOnce) {
    tools::ServerFaults slow;
    slow.packageChunkDelayMs = 40;  // four chunks each: every transfer takes a while
    server->SetFaults(slow);
    std::vector<std::string> installed;
    for (int i = 1; i <= 7; ++i) {
        const std::string name = "m" + std::to_string(i);
        Publish(name, std::string(60000, static_cast<char>('a' + i)));
        Peer::Queue(*updater, Served(name, i));
        installed.push_back("installed " + name);
    }
    Peer::StartDownloads(*updater);
    EXPECT_EQ(Peer::Running(*updater).size(), 5u);
    EXPECT_EQ(Peer::Pending(*updater).size(), 2u);
    ASSERT_TRUE(PumpUntilFinished());
    lmtest::PumpFor(100);  // nothing more may come

    EXPECT_LE(server->MaxConcurrentPackages(), 5);
    EXPECT_EQ(server->TotalPackageRequests(), 7);
    installed.push_back("finished");
    std::sort(events.begin(), events.end() - 1);
    EXPECT_EQ(events, installed);
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Modules update finished"), 1);
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Module download begin {module: m7, url: " +
                                    Served("m7", 7).packageUrl + "}"),
              1);
    for (int i = 1; i <= 7; ++i) {
        const std::string name = "m" + std::to_string(i);
        EXPECT_EQ(LocalOf(name).version, i) << "the record carries the downloaded version";
        EXPECT_TRUE(lmtest::Exists(staging + name + ".zip"));
    }
    EXPECT_FALSE(Peer::TimerArmed(*updater)) << "not started: no timer";
}

TEST_F(OnlineDownloads, AFailedDownloadLeavesTheLocalRecordAlone) {
    Publish("good");
    Peer::Upsert(*updater, Served("good", 1));
    Peer::Upsert(*updater, Served("lost", 1));
    Peer::Queue(*updater, Served("good", 2));
    // A download's HTTP status is not examined, so only a broken transfer fails: nothing listens here.
    ModuleRecord lost = Served("lost", 2);
    lost.packageUrl = "http://127.0.0.1:" + std::to_string(lmtest::UnusedPort()) + "/lost.zip";
    Peer::Queue(*updater, lost);
    ModuleRecord escaping = Served("../escape", 2);
    Peer::Queue(*updater, escaping);
    Peer::StartDownloads(*updater);
    ASSERT_TRUE(PumpUntilFinished());

    EXPECT_EQ(events, (std::vector<std::string>{"installed good", "finished"}));
    EXPECT_EQ(LocalOf("good").version, 2);
    EXPECT_EQ(LocalOf("lost").version, 1);
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Module download finished {module: good}"), 1);
    EXPECT_NE(log.Text().find("[error] [LiveModuleUpdater] Module download failed {error: "), std::string::npos);
    EXPECT_NE(log.Text().find(", module: lost}\n"), std::string::npos);
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Download module failed {error: -1, module: ../escape, url: " +
                                     escaping.packageUrl + "}"),
              1)
        << "a name that is not one folder level is never downloaded";
    ModuleRecord factory;
    std::list<ModuleRecord> onDisk;
    ASSERT_TRUE(ParseModuleInfo(lmtest::ReadFile(modules + "ModuleInfo"), factory, onDisk));
    EXPECT_EQ(onDisk.size(), 2u);
    EXPECT_EQ(onDisk.back().version, 1);
}

TEST_F(OnlineDownloads, ReinstallingARecordWithoutAnAddressFailsVisibly) {
    lmtest::WriteFile(modules + "ModuleInfo", "{\"modules\": [{\"name\": \"old\", \"version\": 3}]}");
    Peer::Open(*updater, modules);
    updater->ReinstallModule("old");
    EXPECT_TRUE(Peer::Local(*updater).empty());
    ASSERT_TRUE(lmtest::PumpUntil(
        [&] { return Count("finished") == 1 || log.Text().find("Download module failed") != std::string::npos; },
        20000));
    const std::string text = log.Text();
    EXPECT_TRUE(text.find("[error] [LiveModuleUpdater] Module download failed {error: ") != std::string::npos ||
                text.find("[error] [LiveModuleUpdater] Download module failed {error: ") != std::string::npos)
        << text;
    EXPECT_EQ(Count("installed old"), 0);
}

TEST_F(OnlineDownloads, TheFactoryPackageIsFetchedWhileStartUpWaits) {
    ModuleRecord factory = Served(kFactoryModuleName, 4);
    EXPECT_FALSE(Peer::SyncUpdateFactory(*updater, {Served("other", 1)}));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Get factory module info failed"), 1);

    Publish(kFactoryModuleName);
    tools::ServerFaults cut;
    cut.truncatePackages = true;
    server->SetFaults(cut);
    EXPECT_FALSE(Peer::SyncUpdateFactory(*updater, {factory})) << "the transfer breaks off";
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Sync download factory module failed"), 1);
    EXPECT_EQ(Peer::FactoryVersion(*updater), 0);
    EXPECT_FALSE(lmtest::Exists(modules + "ModuleInfo"));

    server->SetFaults(tools::ServerFaults());
    ModuleRecord tooNew = factory;
    tooNew.appVersion = "30.1";
    EXPECT_TRUE(Peer::SyncUpdateFactory(*updater, {tooNew}));
    EXPECT_EQ(server->PackageRequests("LiveModuleFactory.zip"), 1) << "only the failed attempt";

    EXPECT_TRUE(Peer::SyncUpdateFactory(*updater, {Served("other", 1), factory}));
    EXPECT_EQ(Peer::FactoryVersion(*updater), 4);
    EXPECT_TRUE(lmtest::Exists(staging + "LiveModuleFactory.zip"));
    EXPECT_NE(lmtest::ReadFile(modules + "ModuleInfo").find("\"name\": \"LiveModuleFactory\", \"version\": 4"),
              std::string::npos);
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Not found module download info"), 2)
        << "the blocking download's own reports";
    EXPECT_TRUE(Peer::SyncUpdateFactory(*updater, {factory}));
    EXPECT_EQ(server->PackageRequests("LiveModuleFactory.zip"), 2) << "not fetched again";
    EXPECT_TRUE(events.empty());
}
