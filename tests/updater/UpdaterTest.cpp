#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "UpdaterTestKit.h"
#include "updater/CompactJson.h"
#include "updater/ModuleInfoFile.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
using lmtest::Listing;
using lmtest::Record;
using lmtest::UpdaterTree;
namespace fs = std::filesystem;

TEST(ModuleInfoFile, WritesTheRecordLineAsJson11DoesAndReadsItBackByteForByte) {
    std::string controls(1, '\0');
    for (char c = 1; c < 0x20; ++c) controls += c;
    // U+2028 and U+2029 are escaped; their neighbour, other UTF-8 and a cut-off sequence are not.
    EXPECT_EQ(CompactJson::String(controls + "\"\\/\x7f|\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\xaa|\xc3\xa9|\xe2\x80"),
              "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
              "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
              "\\u001e\\u001f\\\"\\\\/\x7f|\\u2028|\\u2029|\xe2\x80\xaa|\xc3\xa9|\xe2\x80\"");
    const ModuleRecord factory = Record(kFactoryModuleName, 7);
    ModuleRecord example = Record("example", 12), awkward = Record(controls + "q\"\\\xe2\x80\xa8\xe2\x80\xa9\xe4\xb8\xad", -4, true);
    example.moduleName = "Example", awkward.moduleName = awkward.name;
    EXPECT_EQ(SerializeModuleInfo(factory, {example}),
              "{\"modules\": [{\"moduleName\": \"LiveModuleFactory\", \"name\": \"LiveModuleFactory\", \"version\": 7}, "
              "{\"disabled\": false, \"moduleName\": \"Example\", \"name\": \"example\", \"version\": 12}]}");
    const std::string text = SerializeModuleInfo(factory, {awkward, Record("dup", 1), Record("dup", 2), Record("", 3)});
    EXPECT_EQ(text.find('\n'), std::string::npos);
    ModuleRecord readFactory;
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(text, readFactory, read));
    EXPECT_EQ(Listing(read), Listing({awkward, Record("dup", 1), Record("dup", 2), Record("", 3)}));
    EXPECT_EQ(SerializeModuleInfo(readFactory, read), text);
}

TEST(ModuleInfoFile, ReadsNumbersByTruncationWithSaturationAndSkipsWhatIsNoRecord) {
    ModuleRecord factory;
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(
        R"({"modules": [{"name": "a", "version": 12.9, "disabled": 1, "moduleName": 5}, {"name": "b", "version": -3.7},
            {"name": "c", "version": 1e300}, {"name": "d", "version": -99999999999}, {"name": "e", "version": "5"},
            7, {"name": "LiveModuleFactory", "version": 4294967295}], "other": 1})",
        factory, read));
    EXPECT_EQ(factory.version, INT32_MAX);
    EXPECT_EQ(Listing(read), "a:12 b:-3 c:2147483647 d:-2147483648 e:0 :0 ");
}

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

    Peer::Upsert(updater, Record("on", 10));
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
    auto record = [](int version) {
        ModuleRecord r = Record("m", version);
        r.moduleName = std::string(300000, version % 2 ? 'a' : 'b');
        return r;
    };
    Peer::Upsert(updater, record(1));
    for (int round = 0; round < 20; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 2;; ++i) Peer::Upsert(updater, record(i));
        }
        usleep(1000 + 1500 * round);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        ModuleRecord factory;
        std::list<ModuleRecord> read;
        ASSERT_TRUE(ParseModuleInfo(lmtest::ReadFile(info), factory, read)) << "round " << round;
        ASSERT_EQ(read.size(), 1u);
        EXPECT_EQ(read.front().moduleName, record(read.front().version).moduleName) << round;
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
    lmtest::WriteZip(modules + "alpha.zip", {{"alpha/64bit/alpha_6_3_1_0.so", "escaped"}});  // as "Temp/../alpha"
    EXPECT_FALSE(updater.InstallModule("delta") || updater.InstallModule("../alpha"));
    EXPECT_EQ(log.Text(), before) << "a missing package is no event";
    EXPECT_EQ(log.Count("info", "[LiveModuleUpdater] Start install module {name: alpha}"), 1);

    EXPECT_EQ(lmtest::Tree(staging), (std::set<std::string>{"other/", "other/x.txt"})) << "packages and their folders go";
    EXPECT_EQ(Listing(Peer::Local(*Restart())), "alpha:5 web:5 beta:0 gamma:0 ") << "a failed install resets the version";
    EXPECT_TRUE(fs::is_empty(staging)) << "the next start removes the stray folder";
}

TEST_F(UpdaterTree, StartUpCleansStagingDropsADamagedFactoryPackageAndReadsTheInterval) {
    for (const char* file : {"a.zip", "a.zip.download", "a/x", "b.part"}) lmtest::WriteFile(staging + file, "z");
    lmtest::ZipEntry damaged("LiveModuleFactory/b");
    damaged.damaged = true;
    lmtest::WriteZip(staging + "LiveModuleFactory.zip", {{"LiveModuleFactory/a"}, damaged});
    EXPECT_EQ(Peer::IntervalMs(*Restart()), 1800000u) << "no global.ini";
    EXPECT_EQ(lmtest::Tree(staging), (std::set<std::string>{"a.zip"})) << "no factory hand-over";
    // global.ini is beside the modules folder; the period's milliseconds must fit 32 bits.
    for (const auto& [value, expected] : std::vector<std::pair<std::string, uint32_t>>{
             {"0", 1800000}, {"-5", 1800000}, {"1", 60000}, {"71582", 4294920000}, {"99999999999", 4294920000}}) {
        lmtest::WriteFile(root + "global.ini", "[General]\nUpdateIntervalInMin=" + value);
        EXPECT_EQ(Peer::IntervalMs(*Restart()), expected) << value;
    }
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
    for (const ModuleRecord& queued : {Record("a", 3), Record("b", 1), Record("a", 9)}) Peer::Queue(updater, queued);
    EXPECT_EQ(Listing(Peer::Pending(updater)), "a:9 b:1 ") << "a queued name is replaced in its place";

    lmtest::WriteFile(modules + "w/w.webdll", "w");
    updater.MoveToWebPlugins("", "w"), updater.MoveToWebPlugins(modules + "w", ""),
        updater.MoveToWebPlugins(modules + "w", "..");
    EXPECT_TRUE(Exists(modules + "w/w.webdll"));
    updater.MoveToWebPlugins(modules + "w", "w");
    EXPECT_EQ(lmtest::ReadFile(modules + "WebPlugins/w/w.webdll"), "w");
    EXPECT_FALSE(Exists(modules + "w"));
}
