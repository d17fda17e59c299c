#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "LogCapture.h"
#include "TestArchives.h"
#include "TestSupport.h"
#include "UpdaterPeer.h"
#include "updater/ModuleInfoFile.h"
#include "updater/UpdateInterval.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
namespace fs = std::filesystem;

namespace {

ModuleRecord Record(const std::string& name, int32_t version, const std::string& moduleName = "") {
    ModuleRecord record;
    record.name = name, record.version = version, record.moduleName = moduleName;
    record.packageUrl = "http://packages.invalid/" + name + ".zip";
    return record;
}

// "name:version " of every record in order, with "!" after a disabled one.
std::string Listing(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& r : records) text += r.name + ":" + std::to_string(r.version) + (r.disabled ? "! " : " ");
    return text;
}

class UpdaterTree : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(staging);
        Peer::Open(updater, modules);
    }
    // A fresh updater started on the tree, as at the next start of the host. Without a request
    // service start-up runs its local steps and stops at the catalogue query.
    std::unique_ptr<LiveModuleUpdater> Restart() {
        auto next = std::make_unique<LiveModuleUpdater>(nullptr, UpdaterCallbacks(), "30.0.0");
        EXPECT_EQ(next->Init(modules, 0), -1);
        return next;
    }

    lmtest::TempDir temp;
    const std::string root = temp.path() + "/root/", modules = root + "modules/", staging = modules + "Temp/";
    const std::string info = modules + "ModuleInfo";
    lmtest::LogCapture log;
    LiveModuleUpdater updater{nullptr, UpdaterCallbacks(), "30.0.0"};
};

}  // namespace

TEST_F(UpdaterTree, LoadsTheRecordAnswersQueriesAndKeepsEveryChange) {
    lmtest::WriteFile(info, "{\"modules\": [{\"name\": \"off\", \"disabled\": true, \"version\": 2},\r\n"
                            "{\"name\": \"LiveModuleFactory\", \"version\": 7}, {\"name\": \"on\", \"moduleName\": \"On\",\n"
                            "\"version\": 3}, {\"name\": \"on\", \"version\": 9}, {\"name\": \"\"}]}");
    for (const char* name : {"off", "on", "gone", "a"}) lmtest::WriteFile(modules + name + "/f", "x");
    Peer::Open(updater, modules);
    EXPECT_EQ(Peer::FactoryVersion(updater), 7);
    EXPECT_EQ(Listing(Peer::Local(updater)), "off:2! on:3 on:9 :0 ");

    ModuleRecord asked = Record("on", 0);
    EXPECT_TRUE(updater.GetModuleRecord(asked) && updater.IsModuleEnabled(asked));
    EXPECT_EQ(asked.moduleName, "On");
    for (const char* name : {"off", "gone", "..", "a/.."}) {
        asked = Record(name, 0);
        EXPECT_FALSE(updater.IsModuleEnabled(asked)) << name;
    }
    EXPECT_TRUE(Exists(modules + "off/f") && Exists(modules + "a/f")) << "a disabled module keeps its folder";
    EXPECT_FALSE(Exists(modules + "gone")) << "an unrecorded module's folder is deleted";

    Peer::Upsert(updater, Record("on", 10, "On"));
    Peer::Upsert(updater, Record("new", 1));
    updater.RemoveModule("on");
    EXPECT_FALSE(Exists(modules + "on"));
    auto next = Restart();
    EXPECT_EQ(Listing(Peer::Local(*next)), "off:2! on:9 :0 new:1 ");
    EXPECT_EQ(Peer::FactoryVersion(*next), 7);
}

TEST_F(UpdaterTree, ACorruptRecordIsDeletedAndAnUnreadableOneLeftAlone) {
    for (const char* text : {"", "not json", "{", "[1, 2]", "\"text\"", "{} x", "{\"a\": 1,}", "{\"modules\": [1}",
                             "{\"modules\": [{\"name\": \"\xff\"}]}"}) {
        lmtest::WriteFile(info, text);
        EXPECT_EQ(Listing(Peer::Local(*Restart())), "");
        EXPECT_FALSE(Exists(info)) << text;
    }
    fs::create_directory(info);
    EXPECT_EQ(Listing(Peer::Local(*Restart())), "");
    EXPECT_TRUE(fs::is_directory(info));
}

TEST_F(UpdaterTree, TheRecordIsWholeWhateverMomentItsWriterDies) {
    lmtest::WriteFile(info + ".tmp-1-0", "{\"modules\": [");  // left by a writer that died
    Peer::Upsert(updater, Record("m", 1, std::string(300000, 'a')));
    for (int round = 0; round < 20; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 2;; ++i) Peer::Upsert(updater, Record("m", i, std::string(300000, i % 2 ? 'a' : 'b')));
        }
        usleep(1000 + 1500 * round);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ModuleRecord factory;
        std::list<ModuleRecord> read;
        ASSERT_TRUE(ParseModuleInfo(lmtest::ReadFile(info), factory, read)) << "round " << round;
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read.front().moduleName, std::string(300000, read.front().version % 2 ? 'a' : 'b')) << round;
    }
}

TEST_F(UpdaterTree, InstallsPackagesAndCleansUpOnEveryPath) {
    for (const char* name : {"alpha", "web", "beta", "gamma"}) Peer::Upsert(updater, Record(name, 5));
    lmtest::WriteZip(staging + "alpha.zip", {{"alpha/64bit/alpha_6_3_1_0.so", "lib"}, {"alpha/readme.txt"}});
    lmtest::WriteFile(modules + "alpha/old.txt", "old");
    EXPECT_TRUE(updater.InstallModule("alpha"));
    EXPECT_EQ(lmtest::ReadFile(modules + "alpha/64bit/alpha_6_3_1_0.so"), "lib");
    EXPECT_FALSE(Exists(modules + "alpha/old.txt"));
    lmtest::WriteZip(staging + "web.zip", {{"web/web.webdll"}, {"web/index.html"}});
    EXPECT_TRUE(updater.InstallModule("web"));
    EXPECT_TRUE(Exists(modules + "WebPlugins/web/web.webdll") && !Exists(modules + "web"));

    lmtest::WriteZip(staging + "beta.zip", {{"other/x.txt"}});
    EXPECT_FALSE(updater.InstallModule("beta"));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Copy module dir failed"), 1);
    lmtest::WriteFile(staging + "gamma.zip", "not a zip");
    EXPECT_FALSE(updater.InstallModule("gamma"));
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Unzip module packet failed {path: " + staging + "gamma.zip}"), 1);
    const std::string before = log.Text();
    lmtest::WriteZip(modules + "alpha.zip", {{"alpha/64bit/alpha_6_3_1_0.so", "escaped"}});
    EXPECT_FALSE(updater.InstallModule("delta") || updater.InstallModule("../alpha"));
    EXPECT_EQ(log.Text(), before) << "a missing package is no event";
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Start install module {name: alpha}"), 1);

    EXPECT_EQ(lmtest::Tree(staging), (std::set<std::string>{"other/", "other/x.txt"})) << "packages and their folders go";
    EXPECT_EQ(Listing(Peer::Local(*Restart())), "alpha:5 web:5 beta:0 gamma:0 ") << "a failed install resets the version";
    EXPECT_TRUE(fs::is_empty(staging)) << "the next start removes the stray folder";
}

TEST_F(UpdaterTree, StartUpCleansStagingAndDropsADamagedFactoryPackage) {
    for (const char* file : {"a.zip", "a.zip.download", "a/x", "b.part"}) lmtest::WriteFile(staging + file, "z");
    lmtest::ZipEntry damaged("LiveModuleFactory/b");
    damaged.damaged = true;
    lmtest::WriteZip(staging + "LiveModuleFactory.zip", {{"LiveModuleFactory/a"}, damaged});
    lmtest::WriteFile(root + "global.ini", "[General]\nUpdateIntervalInMin=1\n");
    EXPECT_EQ(updater.Init(modules, 0), -1) << "no factory hand-over; then no service answers";
    EXPECT_EQ(Peer::IntervalMs(updater), 60000u);
    EXPECT_EQ(lmtest::Tree(staging), (std::set<std::string>{"a.zip"}));
}

TEST_F(UpdaterTree, ReinstallsQueuesAndMovesModules) {
    Peer::Upsert(updater, Record("a", 3));
    Peer::Upsert(updater, Record("b", 1));
    Peer::Upsert(updater, Record("../escape", 1));  // only a hand-edited record holds such a name
    updater.ReinstallModule("a");
    updater.ReinstallModule("../escape");
    updater.ReinstallModule("unknown");
    EXPECT_EQ(Listing(Peer::Local(updater)) + "| " + Listing(Peer::Pending(updater)), "b:1 | ");
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Download module failed {error: -1001, module: a, url: "
                                 "http://packages.invalid/a.zip}"), 1)
        << "without a service the download is refused and dropped";
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Download module failed {error: -1, module: ../escape, url: "
                                 "http://packages.invalid/../escape.zip}"), 1)
        << "a name that is not one folder level is never downloaded";
    Peer::Queue(updater, Record("a", 3));
    Peer::Queue(updater, Record("b", 1));
    Peer::Queue(updater, Record("a", 9));
    EXPECT_EQ(Listing(Peer::Pending(updater)), "a:9 b:1 ") << "a queued name is replaced in its place";

    lmtest::WriteFile(modules + "w/w.webdll", "w");
    updater.MoveToWebPlugins("", "w"), updater.MoveToWebPlugins(modules + "w", ""),
        updater.MoveToWebPlugins(modules + "w", "..");
    EXPECT_TRUE(Exists(modules + "w/w.webdll"));
    updater.MoveToWebPlugins(modules + "w", "w");
    EXPECT_EQ(lmtest::ReadFile(modules + "WebPlugins/w/w.webdll"), "w");
    EXPECT_FALSE(Exists(modules + "w"));
}

TEST(UpdateInterval, ComesFromGlobalIniBesideTheModulesFolderWithinBounds) {
    EXPECT_EQ(GlobalIniPath("/modules/"), "/global.ini");
    lmtest::TempDir temp;
    const std::string ini = temp.path() + "/global.ini";
    EXPECT_EQ(ReadUpdateIntervalMs(ini), 1800000u);
    for (const auto& [value, expected] : std::vector<std::pair<std::string, uint32_t>>{
             {"0", 1800000}, {"-5", 1800000}, {"1", 60000}, {"71582", 4294920000}, {"99999999999", 4294920000}}) {
        lmtest::WriteFile(ini, "[General]\nUpdateIntervalInMin=" + value);
        EXPECT_EQ(ReadUpdateIntervalMs(ini), expected) << value;
    }
}
