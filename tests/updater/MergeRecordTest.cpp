#ifndef _WIN32
#include <sys/inotify.h>
#include <unistd.h>
#endif

#include <functional>

#include "UpdaterTestKit.h"
#include "updater/RecordList.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Listing;
using lmtest::Record;
namespace fs = std::filesystem;

namespace {

using FullMerge = lmtest::UpdaterTree;

// "name" of every "Module download begin" line, in order.
std::vector<std::string> DownloadsBegun(const std::string& log) {
    const std::string marker = "[LiveModuleUpdater] Module download begin {module: ";
    std::vector<std::string> names;
    for (auto at = log.find(marker); at != std::string::npos; at = log.find(marker, at + 1)) {
        const auto begin = at + marker.size();
        names.push_back(log.substr(begin, log.find(", url:", begin) - begin));
    }
    return names;
}

}  // namespace

// The record a start-up writes for a catalogue that exercises every rule, byte for byte as the
// per-change writer produced it; duplicates, non-ASCII names and escapes keep their places.
TEST_F(FullMerge, StartUpWritesTheSameRecordBytesAndAnnouncesTheSameEvents) {
    lmtest::WriteFile(info, "{\"modules\": [{\"name\": \"LiveModuleFactory\", \"version\": 3}, "
                            "{\"name\": \"keep\", \"version\": 4}, "
                            "{\"name\": \"dup\", \"moduleName\": \"first\", \"version\": 2}, "
                            "{\"name\": \"newer\", \"version\": 1}, {\"name\": \"dup\", \"version\": 7}, "
                            "{\"name\": \"offline\", \"version\": 1}, {\"name\": \"below\", \"version\": 2}, "
                            "{\"name\": \"tooNew\", \"moduleName\": \"Keeps \\\"q\\\" \\\\ \\u2028\", \"disabled\": true, \"version\": 5}, "
                            "{\"name\": \"m\xc3\xb3" "dulo\", \"moduleName\": \"M\xc3\xb3" "dulo \xc3\xbc\", \"version\": 6}, "
                            "{\"name\": \"reset\", \"version\": 0}, {\"name\": \"waiting\", \"version\": 3}, "
                            "{\"name\": \"lost\", \"version\": 3}, {\"name\": \"wasoff\", \"disabled\": true, \"version\": 2}, "
                            "{\"name\": \"broken\", \"version\": 2}]}");
    for (const char* name : {"keep", "dup", "newer", "offline", "below", "tooNew", "m\xc3\xb3" "dulo", "reset", "wasoff",
                             "broken"})
        lmtest::WriteFile(modules + name + "/64bit/lib", "x");
    lmtest::WriteZip(staging + "waiting.zip", {{"waiting/64bit/waiting_6_3_1_0.so", "lib"}});
    lmtest::WriteFile(staging + "broken.zip", "not a zip");
    Peer::Open(updater, modules);

    ModuleRecord fresh = Record("fresh", 1), newer = Record("newer", 3), keep = Record("keep", 4),
                 below = Record("below", 5), modulo = Record("m\xc3\xb3" "dulo", 6);
    fresh.order = 2, newer.order = -1, newer.identify = 1, keep.requiredVersion = 4, below.requiredVersion = 3;
    modulo.moduleName = "M\xc3\xb3" "dulo nuevo\t\x01";
    Peer::StartupPass(updater, {fresh, Record(kFactoryModuleName, 4), newer, Record("dup", 2), keep, below,
                                Record("tooNew", 9, false, "31"), modulo, Record("reset", 0), Record("waiting", 3),
                                Record("lost", 3), Record("wasoff", 2), Record("broken", 2), Record("fresh", 2),
                                Record("unknown", 1, false, "99")});

    EXPECT_EQ(lmtest::ReadFile(info),
              "{\"modules\": [{\"moduleName\": \"LiveModuleFactory\", \"name\": \"LiveModuleFactory\", \"version\": 3}, "
              "{\"disabled\": false, \"moduleName\": \"Shown newer\", \"name\": \"newer\", \"version\": 1}, "
              "{\"disabled\": false, \"moduleName\": \"Shown dup\", \"name\": \"dup\", \"version\": 2}, "
              "{\"disabled\": false, \"moduleName\": \"Shown keep\", \"name\": \"keep\", \"version\": 4}, "
              "{\"disabled\": true, \"moduleName\": \"Keeps \\\"q\\\" \\\\ \\u2028\", \"name\": \"tooNew\", \"version\": 5}, "
              "{\"disabled\": false, \"moduleName\": \"M\xC3\xB3" "dulo nuevo\\t\\u0001\", \"name\": \"m\xC3\xB3" "dulo\", "
              "\"version\": 6}, {\"disabled\": false, \"moduleName\": \"Shown reset\", \"name\": \"reset\", \"version\": 0}, "
              "{\"disabled\": false, \"moduleName\": \"Shown waiting\", \"name\": \"waiting\", \"version\": 3}, "
              "{\"disabled\": false, \"moduleName\": \"Shown wasoff\", \"name\": \"wasoff\", \"version\": 2}, "
              "{\"disabled\": false, \"moduleName\": \"Shown broken\", \"name\": \"broken\", \"version\": 0}]}");
    EXPECT_EQ(events, (std::vector<std::string>{"installed tooNew", "installed wasoff", "offline dup", "offline offline"}));
    EXPECT_EQ(DownloadsBegun(log.Text()),
              (std::vector<std::string>{"fresh", "LiveModuleFactory", "newer", "below", "lost", "reset", "broken"}));
}

#ifndef _WIN32
// Linux only: the writes are counted with inotify.
namespace {

// Counts the times the record file is replaced (the writer renames a finished file over it).
class ReplacementCounter {
public:
    explicit ReplacementCounter(const std::string& folder) : fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(inotify_add_watch(fd, folder.c_str(), IN_MOVED_TO), 0);
    }
    ~ReplacementCounter() { close(fd); }
    // Replacements since the last call; the kernel queues each event before the rename returns.
    int Take() {
        int count = 0;
        alignas(inotify_event) char buffer[64 * 1024];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len && std::string(event->name) == "ModuleInfo") ++count;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    const int fd;
};

}  // namespace

// A merge writes the whole record once, even when a step inside it changes records (here the
// factory, told that a module was enabled, fails to load it and asks for a new download); single
// changes outside a merge are written at once.
TEST_F(FullMerge, AMergeWritesTheRecordOnceAndSingleChangesAtOnce) {
    std::string text = "{\"modules\": [";
    std::list<ModuleRecord> catalogue;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "m" + std::to_string(i);
        text += (i ? ", " : "") + std::string("{\"name\": \"") + name + "\", \"version\": 2, \"disabled\": " +
                (i == 7 ? "true" : "false") + "}";
        lmtest::WriteFile(modules + name + "/64bit/lib", "x");
        catalogue.push_back(Record(name, 3));
    }
    lmtest::WriteFile(info, text + "]}");
    std::unique_ptr<LiveModuleUpdater> factoryAsks;
    int offline = 0;
    factoryAsks = std::make_unique<LiveModuleUpdater>(
        nullptr, UpdaterCallbacks{[&](std::string name) { factoryAsks->ReinstallModule(name); },
                                  [&](std::string) { ++offline; }, [] {}},
        "30.0.0");
    LiveModuleUpdater& u = *factoryAsks;
    Peer::Open(u, modules);
    ReplacementCounter replaced(modules);
    Peer::Merge(u, catalogue);
    EXPECT_EQ(replaced.Take(), 1);
    EXPECT_EQ(Peer::Local(u).size(), 299u);
    EXPECT_EQ(Listing(Peer::Local(*Restart())), Listing(Peer::Local(u))) << "the one write holds every change";
    EXPECT_EQ(lmtest::ReadFile(info).find("\"m7\""), std::string::npos);

    u.RemoveModule("m1");
    EXPECT_EQ(replaced.Take(), 1) << "a change the factory asks for is written at once";
    u.ReinstallModule("m2");
    EXPECT_EQ(replaced.Take(), 1);
    Peer::Merge(u, {});
    EXPECT_EQ(replaced.Take(), 0) << "a merge that records nothing writes nothing";
    EXPECT_EQ(offline, 297);
}
#endif

// The records by name: several may share one, each operation acts on the first in list order, and
// the order is kept whatever is replaced, taken or appended.
TEST(RecordList, ActsOnTheFirstRecordOfANameAndKeepsListOrder) {
    const auto listing = [](const RecordList& list) { return lmtest::Listing(list.Items()); };
    RecordList list({Record("a", 1), Record("b", 1), Record("a", 2), Record("c", 1), Record("a", 3)});
    ModuleRecord taken;
    const std::vector<std::pair<std::function<bool()>, std::string>> steps = {
        {[&] { return list.Find("a")->version == 1 && !list.Find("z"); }, "a:1 b:1 a:2 c:1 a:3 "},
        {[&] { return list.Upsert(Record("a", 9)), true; }, "a:9 b:1 a:2 c:1 a:3 "},
        {[&] { return list.Take("a", taken) && taken.version == 9; }, "b:1 a:2 c:1 a:3 "},
        {[&] { return list.Find("a")->version == 2; }, "b:1 a:2 c:1 a:3 "},
        {[&] { return list.Upsert(Record("d", 1)), list.Upsert(Record("a", 7)), true; }, "b:1 a:7 c:1 a:3 d:1 "},
        {[&] { return list.TakeFront(taken) && taken.name == "b" && !list.Find("b"); }, "a:7 c:1 a:3 d:1 "},
        {[&] { return list.TakeFront(taken) && list.Take("a", taken) && taken.version == 3; }, "c:1 d:1 "},
        {[&] { return !list.Take("a", taken) && !list.Find("a"); }, "c:1 d:1 "},
        {[&] { return list.Upsert(Record("a", 5)), list.Find("a")->version == 5; }, "c:1 d:1 a:5 "},
        {[&] { RecordList moved = std::move(list); list = std::move(moved); return list.Find("d") != nullptr; },
         "c:1 d:1 a:5 "},
        {[&] { return list.TakeFront(taken) && list.TakeFront(taken) && list.TakeFront(taken) && !list.TakeFront(taken); },
         ""},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_TRUE(steps[i].first()) << "step " << i;
        EXPECT_EQ(listing(list), steps[i].second) << "step " << i;
    }
    EXPECT_TRUE(list.Empty() && !list.Find("c"));
}
