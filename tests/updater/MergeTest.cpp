#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TestArchives.h"
#include "TestSupport.h"
#include "UpdaterPeer.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;

namespace {

ModuleRecord Module(const std::string& name, int32_t version) {
    ModuleRecord record;
    record.name = name, record.moduleName = "Shown " + name, record.version = version;
    record.packageUrl = "http://packages.invalid/" + name + ".zip";
    return record;
}

// "name:version " of every record, in order.
std::string Listing(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& record : records) text += record.name + ":" + std::to_string(record.version) + " ";
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

TEST_F(Merge, KeepsTheInstalledVersionAndQueuesWhatIsNewerOrRequired) {
    Installed(Module("newer", 3));
    Installed(Module("same", 4));
    Installed(Module("below", 3));
    ModuleRecord newer = Module("newer", 5), below = Module("below", 6), fresh = Module("fresh", 1);
    newer.order = 9, newer.identify = 2, below.requiredVersion = 5;
    Peer::Merge(updater, {newer, Module("same", 4), below, fresh});

    EXPECT_EQ(Listing(Peer::Local(updater)), "newer:3 same:4 ");
    const ModuleRecord local = LocalOf("newer");
    EXPECT_EQ(local.packageUrl, newer.packageUrl) << "every field but the version from the catalogue";
    EXPECT_EQ(local.order + local.identify, 11);
    EXPECT_EQ(Listing(Peer::Pending(updater)), "newer:5 below:6 fresh:1 ");
    EXPECT_TRUE(events.empty());
    // What survives a restart is what the merge recorded.
    LiveModuleUpdater next(nullptr, UpdaterCallbacks(), "30.0.0");
    Peer::Open(next, modules);
    EXPECT_EQ(Listing(Peer::Local(next)), "newer:3 same:4 ");
}

TEST_F(Merge, AModuleTheHostCannotRunStaysAsItIsAndIsNeverFetched) {
    ModuleRecord disabled = Module("off", 2);
    disabled.disabled = true;
    Installed(Module("kept", 2));
    Installed(disabled);
    ModuleRecord kept = Module("kept", 9), off = Module("off", 9), unknown = Module("unknown", 1);
    ModuleRecord malformed = Module("kept2", 9);
    kept.appVersion = "30.0.1", off.appVersion = "31", unknown.appVersion = "99", malformed.appVersion = "30.x";
    Installed(Module("kept2", 1));
    Peer::Merge(updater, {kept, off, unknown, malformed});

    EXPECT_EQ(Listing(Peer::Local(updater)), "kept:2 off:2 kept2:1 ");
    EXPECT_EQ(LocalOf("kept").packageUrl, "http://old.invalid/") << "the local record unchanged";
    EXPECT_TRUE(LocalOf("off").disabled);
    EXPECT_TRUE(Peer::Pending(updater).empty());
    EXPECT_EQ(events, std::vector<std::string>{"installed off"}) << "enabled by the catalogue";
}

TEST_F(Merge, EnablingAModuleAnnouncesIt) {
    ModuleRecord off = Module("m", 2), still = Module("still", 1);
    off.disabled = still.disabled = true;
    Installed(off);
    Installed(still);
    Peer::Merge(updater, {Module("m", 2), still});
    EXPECT_EQ(events, std::vector<std::string>{"installed m"});
    EXPECT_FALSE(LocalOf("m").disabled);
    EXPECT_TRUE(LocalOf("still").disabled);
}

TEST_F(Merge, InstallsAWaitingPackageOfAMissingFolderOrFetchesIt) {
    Peer::Upsert(updater, Module("waiting", 4));
    Peer::Upsert(updater, Module("lost", 4));
    lmtest::WriteFile(modules + "Temp/other.zip", "stays");
    lmtest::WriteZip(modules + "Temp/waiting.zip", {{"waiting/64bit/waiting_6_3_1_0.so", "lib"}});
    Peer::Merge(updater, {Module("waiting", 4), Module("lost", 4)});
    EXPECT_EQ(lmtest::ReadFile(modules + "waiting/64bit/waiting_6_3_1_0.so"), "lib");
    EXPECT_EQ(Listing(Peer::Local(updater)), "waiting:4 ");
    EXPECT_EQ(Listing(Peer::Pending(updater)), "lost:4 ") << "no local record until it is downloaded";
}

TEST_F(Merge, QueuesTheFactoryOnlyWhenNewerAndSuitable) {
    Peer::FactoryVersion(updater) = 5;
    ModuleRecord tooNew = Module(kFactoryModuleName, 8);
    tooNew.appVersion = "31";
    Peer::Merge(updater, {Module(kFactoryModuleName, 5), tooNew});
    EXPECT_TRUE(Peer::Pending(updater).empty());
    ModuleRecord unreadable = Module(kFactoryModuleName, 8);
    unreadable.appVersion = "x";
    Peer::Merge(updater, {unreadable, Module(kFactoryModuleName, 4)});
    EXPECT_TRUE(Peer::Pending(updater).empty());
    Peer::Merge(updater, {Module(kFactoryModuleName, 6)});
    EXPECT_EQ(Listing(Peer::Pending(updater)), "LiveModuleFactory:6 ");
    EXPECT_TRUE(Peer::Local(updater).empty() && events.empty()) << "the factory is no local module";
}
