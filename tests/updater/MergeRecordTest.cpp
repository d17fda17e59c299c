#include "UpdaterTestKit.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Record;

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
