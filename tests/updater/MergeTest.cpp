#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "LogCapture.h"
#include "TestArchives.h"
#include "TestSupport.h"
#include "UpdaterPeer.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;

namespace {

ModuleRecord Module(const std::string& name, int32_t version, bool disabled = false) {
    ModuleRecord record;
    record.name = name, record.moduleName = "Shown " + name, record.version = version, record.disabled = disabled;
    record.packageUrl = "http://packages.invalid/" + name + ".zip";
    return record;
}

// "name:version " of every record in order, with "!" after a disabled one.
std::string Listing(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& r : records) text += r.name + ":" + std::to_string(r.version) + (r.disabled ? "! " : " ");
    return text;
}

class Merge : public ::testing::Test {
protected:
    void SetUp() override { Peer::Open(updater, modules); }
    // A local record of a module whose folder is there.
    void Installed(ModuleRecord record) {
        lmtest::WriteFile(modules + record.name + "/64bit/lib", "x");
        record.packageUrl = "http://old.invalid/";
        Peer::Upsert(updater, record);
    }
    ModuleRecord LocalOf(const std::string& name) {
        ModuleRecord record;
        record.name = name;
        EXPECT_TRUE(updater.GetModuleRecord(record)) << name;
        return record;
    }

    lmtest::TempDir temp;
    const std::string modules = temp.path() + "/modules/";
    std::vector<std::string> events;
    UpdaterCallbacks callbacks{[this](std::string name) { events.push_back("installed " + name); },
                               [this](std::string name) { events.push_back("offline " + name); }, nullptr};
    LiveModuleUpdater updater{nullptr, callbacks, "30.0.0"};
};

}  // namespace

TEST_F(Merge, AnEmptyCatalogueTakesEveryModuleOfflineWithoutRewritingTheRecord) {
    Installed(Module("a", 1));
    Installed(Module("b", 2));
    struct stat before {}, after {};
    ASSERT_EQ(stat((modules + "ModuleInfo").c_str(), &before), 0);
    const std::string text = lmtest::ReadFile(modules + "ModuleInfo");
    Peer::Merge(updater, {});
    EXPECT_EQ(events, (std::vector<std::string>{"offline a", "offline b"}));
    EXPECT_TRUE(Peer::Local(updater).empty() && Peer::Pending(updater).empty());
    ASSERT_EQ(stat((modules + "ModuleInfo").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(lmtest::ReadFile(modules + "ModuleInfo"), text);
}

TEST_F(Merge, KeepsWhatIsInstalledQueuesWhatIsNeededAndAnnouncesChanges) {
    for (const ModuleRecord& local : {Module("newer", 3), Module("same", 4), Module("below", 3), Module("on", 2, true),
                                      Module("off", 1, true), Module("high", 2), Module("badver", 1),
                                      Module("high-on", 2, true), Module("equal", 1), Module("gone", 1)}) {
        Installed(local);
    }
    // Recorded, but their folders are missing: one package waits in the staging folder.
    Peer::Upsert(updater, Module("waiting", 4));
    Peer::Upsert(updater, Module("lost", 4));
    std::filesystem::create_directories(modules + "Temp");
    lmtest::WriteZip(modules + "Temp/waiting.zip", {{"waiting/64bit/waiting_6_3_1_0.so", "lib"}});

    ModuleRecord newer = Module("newer", 5), same = Module("same", 4), below = Module("below", 6), high = Module("high", 9);
    ModuleRecord badver = Module("badver", 9), highOn = Module("high-on", 9), equal = Module("equal", 2);
    ModuleRecord unknown = Module("unknown", 1);
    newer.order = 9, newer.identify = 2, same.requiredVersion = 4, below.requiredVersion = 5;
    // The host is 30.0.0: an entry for a newer host, or with a version that cannot be compared,
    // leaves the local record as it is and is never fetched.
    high.appVersion = "30.0.1", badver.appVersion = "30.x", highOn.appVersion = "31", unknown.appVersion = "99";
    equal.appVersion = "30.0.0";
    Peer::Merge(updater, {newer, same, below, Module("fresh", 1), Module("on", 2), Module("off", 1, true),
                          high, badver, highOn, equal, unknown, Module("waiting", 4), Module("lost", 4)});

    EXPECT_EQ(Listing(Peer::Local(updater)), "newer:3 same:4 on:2 off:1! high:2 badver:1 high-on:2! equal:1 waiting:4 ");
    EXPECT_EQ(Listing(Peer::Pending(updater)), "newer:5 below:6 fresh:1 equal:2 lost:4 ");
    EXPECT_EQ(events, (std::vector<std::string>{"installed on", "installed high-on", "offline gone"}));
    const ModuleRecord local = LocalOf("newer");
    EXPECT_EQ(local.packageUrl, newer.packageUrl) << "every field but the version from the catalogue";
    EXPECT_EQ(local.order + local.identify, 11);
    EXPECT_EQ(LocalOf("high").packageUrl, "http://old.invalid/");
    EXPECT_EQ(lmtest::ReadFile(modules + "waiting/64bit/waiting_6_3_1_0.so"), "lib");
    // What survives a restart is what the merge recorded.
    LiveModuleUpdater next(nullptr, UpdaterCallbacks(), "30.0.0");
    Peer::Open(next, modules);
    EXPECT_EQ(Listing(Peer::Local(next)), Listing(Peer::Local(updater)));
}

TEST_F(Merge, TheFactoryIsFetchedOnlyWhenNewerAndSuitable) {
    lmtest::LogCapture log;
    ModuleRecord tooNew = Module(kFactoryModuleName, 8), unreadable = Module(kFactoryModuleName, 8);
    tooNew.appVersion = "31", unreadable.appVersion = "x";
    // At start-up: without a request service every attempted download fails.
    EXPECT_FALSE(Peer::SyncUpdateFactory(updater, {Module("other", 1)}));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Get factory module info failed"), 1);
    EXPECT_TRUE(Peer::SyncUpdateFactory(updater, {tooNew}) && Peer::SyncUpdateFactory(updater, {unreadable}) &&
                Peer::SyncUpdateFactory(updater, {Module(kFactoryModuleName, 0)}));
    EXPECT_FALSE(Peer::SyncUpdateFactory(updater, {Module("other", 1), Module(kFactoryModuleName, 1)}));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Sync download factory module failed"), 1);
    EXPECT_EQ(Peer::FactoryVersion(updater), 0);

    // In a cycle.
    Peer::FactoryVersion(updater) = 5;
    Peer::Merge(updater, {Module(kFactoryModuleName, 5), tooNew, unreadable, Module(kFactoryModuleName, 4)});
    EXPECT_TRUE(Peer::Pending(updater).empty());
    Peer::Merge(updater, {Module(kFactoryModuleName, 6)});
    EXPECT_EQ(Listing(Peer::Pending(updater)), "LiveModuleFactory:6 ");
    EXPECT_TRUE(Peer::Local(updater).empty() && events.empty()) << "the factory is no local module";
}
