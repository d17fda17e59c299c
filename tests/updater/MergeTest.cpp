#include <sys/stat.h>

#include "UpdaterTestKit.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Listing;
using lmtest::Record;

namespace {

class Merge : public lmtest::UpdaterTree {
protected:
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
};

}  // namespace

TEST_F(Merge, AnEmptyCatalogueTakesEveryModuleOfflineWithoutRewritingTheRecord) {
    Installed(Record("a", 1));
    Installed(Record("b", 2));
    struct stat before {}, after {};
    ASSERT_EQ(stat(info.c_str(), &before), 0);
    const std::string text = lmtest::ReadFile(info);
    Peer::Merge(updater, {});
    EXPECT_EQ(events, (std::vector<std::string>{"offline a", "offline b"}));
    EXPECT_TRUE(Peer::Local(updater).empty() && Peer::Pending(updater).empty());
    ASSERT_EQ(stat(info.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    EXPECT_EQ(lmtest::ReadFile(info), text);
}

TEST_F(Merge, KeepsWhatIsInstalledQueuesWhatIsNeededAndAnnouncesChanges) {
    for (const ModuleRecord& local : {Record("newer", 3), Record("same", 4), Record("below", 3), Record("on", 2, true),
                                      Record("off", 1, true), Record("high", 2), Record("badver", 1),
                                      Record("high-on", 2, true), Record("equal", 1), Record("gone", 1)}) {
        Installed(local);
    }
    // Recorded, but their folders are missing: one package waits in the staging folder.
    Peer::Upsert(updater, Record("waiting", 4));
    Peer::Upsert(updater, Record("lost", 4));
    lmtest::WriteZip(staging + "waiting.zip", {{"waiting/64bit/waiting_6_3_1_0.so", "lib"}});

    ModuleRecord newer = Record("newer", 5), same = Record("same", 4), below = Record("below", 6), high = Record("high", 9);
    ModuleRecord badver = Record("badver", 9), highOn = Record("high-on", 9), equal = Record("equal", 2);
    ModuleRecord unknown = Record("unknown", 1);
    newer.order = 9, newer.identify = 2, same.requiredVersion = 4, below.requiredVersion = 5;
    // The host is 30.0.0: an entry for a newer host, or with a version that cannot be compared,
    // leaves the local record as it is and is never fetched.
    high.appVersion = "30.0.1", badver.appVersion = "30.x", highOn.appVersion = "31", unknown.appVersion = "99";
    equal.appVersion = "30.0.0";
    Peer::Merge(updater, {newer, same, below, Record("fresh", 1), Record("on", 2), Record("off", 1, true), high, badver,
                          highOn, equal, unknown, Record("waiting", 4), Record("lost", 4)});

    EXPECT_EQ(Listing(Peer::Local(updater)), "newer:3 same:4 on:2 off:1! high:2 badver:1 high-on:2! equal:1 waiting:4 ");
    EXPECT_EQ(Listing(Peer::Pending(updater)), "newer:5 below:6 fresh:1 equal:2 lost:4 ");
    EXPECT_EQ(events, (std::vector<std::string>{"installed on", "installed high-on", "offline gone"}));
    const ModuleRecord local = LocalOf("newer");
    EXPECT_EQ(local.packageUrl, newer.packageUrl) << "every field but the version from the catalogue";
    EXPECT_EQ(local.order + local.identify, 11);
    EXPECT_EQ(LocalOf("high").packageUrl, "http://old.invalid/");
    EXPECT_EQ(lmtest::ReadFile(modules + "waiting/64bit/waiting_6_3_1_0.so"), "lib");
    EXPECT_EQ(Listing(Peer::Local(*Restart())), Listing(Peer::Local(updater))) << "the merge saved what it recorded";
}

TEST_F(Merge, TheFactoryIsFetchedOnlyWhenNewerAndSuitable) {
    ModuleRecord tooNew = Record(kFactoryModuleName, 8), unreadable = Record(kFactoryModuleName, 8);
    tooNew.appVersion = "31", unreadable.appVersion = "x";
    // At start-up: without a request service every attempted download fails.
    EXPECT_FALSE(Peer::SyncUpdateFactory(updater, {Record("other", 1)}));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Get factory module info failed"), 1);
    EXPECT_TRUE(Peer::SyncUpdateFactory(updater, {tooNew}) && Peer::SyncUpdateFactory(updater, {unreadable}) &&
                Peer::SyncUpdateFactory(updater, {Record(kFactoryModuleName, 0)}));
    EXPECT_FALSE(Peer::SyncUpdateFactory(updater, {Record("other", 1), Record(kFactoryModuleName, 1)}));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Sync download factory module failed"), 1);
    EXPECT_EQ(Peer::FactoryVersion(updater), 0);

    // In a cycle.
    Peer::FactoryVersion(updater) = 5;
    Peer::Merge(updater, {Record(kFactoryModuleName, 5), tooNew, unreadable, Record(kFactoryModuleName, 4)});
    EXPECT_TRUE(Peer::Pending(updater).empty());
    Peer::Merge(updater, {Record(kFactoryModuleName, 6)});
    EXPECT_EQ(Listing(Peer::Pending(updater)), "LiveModuleFactory:6 ");
    EXPECT_TRUE(Peer::Local(updater).empty() && events.empty()) << "the factory is no local module";
}
