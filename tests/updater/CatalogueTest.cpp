#include <limits>
#include <tuple>

#include "DeviceIdentity.h"
#include "UpdaterTestKit.h"
#include "net_request/NetRequest.h"
#include "updater/Catalogue.h"
#include "updater/JsonReader.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Listing;
using lmtest::Record;

namespace {

// The records of a successful answer with these entries, in order.
std::list<ModuleRecord> Entries(const std::string& entries) {
    std::list<ModuleRecord> out;
    EXPECT_TRUE(ParseCatalogue("{\"error\": 0, \"data\": [" + entries + "]}", out)) << entries;
    return out;
}

// The fields that differ from a bare entry's in the record of an entry "m.zip" with these members.
std::string Fields(const std::string& members) {
    const auto out = Entries(R"({"name": "Shown", "orgname": "m.zip")" + (members.empty() ? "" : ", " + members) + "}");
    if (out.size() != 1 || out.front().name + "|" + out.front().moduleName != "m|Shown") return "dropped or misnamed";
    const ModuleRecord& r = out.front();
    auto n = [](int value) { return value ? std::to_string(value) : std::string(); };
    const std::pair<const char*, std::string> fields[] = {
        {"v", n(r.version)}, {"req", n(r.requiredVersion)}, {"order", n(r.order)}, {"id", n(r.identify)},
        {"type", n(r.moduleType)}, {"disabled", n(r.disabled)}, {"nopre", n(!r.preinstall)},
        {"hot", n(r.hotUpdateEnabled)}, {"tips", r.updateTips}, {"url", r.packageUrl}, {"app", r.appVersion}};
    std::string text;
    for (const auto& [key, value] : fields) text += value.empty() ? "" : std::string(key) + "=" + value + " ";
    return text;
}

using Merge = lmtest::UpdaterTree;
using OnlineUpdater = lmtest::UpdaterTree;

}  // namespace

TEST(Catalogue, AcceptsOnlyAnObjectWithNumericZeroErrorAndADataArray) {
    lmtest::LogCapture log;
    const std::vector<std::string> good = {
        R"({"error": 0, "data": []})", R"({"error": -0.5, "data": [], "x": 1})", "\n{\"data\": [], \"error\": 0.9}\r\n",
        "\xef\xbb\xbf{\"error\": 0, \"data\": []}", "{\"error\": 0, \"data\": [\"\xff\"]}"};
    const std::vector<std::string> bad = {
        "not json", "[1]", R"({"data": []})", R"({"error": "0", "data": []})", R"({"error": true, "data": []})",
        R"({"error": 1, "data": [{"name": "A", "orgname": "a.zip"}]})", R"({"error": 0, "data": {}})",
        R"({"error": 0, "data": []} x)", R"({"error": 0, "data": []} // note)", R"({"error": 0, "data": [})",
        R"({"error": 0})"};
    for (const bool ok : {true, false})
        for (const std::string& text : ok ? good : bad) {
            std::list<ModuleRecord> out(1);
            EXPECT_EQ(ParseCatalogue(text, out), ok) << text;
            EXPECT_EQ(out.size(), 1u) << "nothing is added: " << text;
        }
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Parse remote module info failed { invalid param }"),
              static_cast<int>(bad.size()));
}

TEST(Catalogue, ReadsEveryEntryFieldByItsRule) {
    const std::string ext = R"("ext": "{\"hot_update_enable\": 1, \"update_tips\": \"new\", \"module_type\": )";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {R"("resver": "12", "pfile": "http://h/m.zip", "disabled": 1, "require_client_version": " 7abc",)"
         R"( "preinstall": 0, "order": "-4", "identify": 2, "appver": "29.1.0", "unknown": [1], )" + ext + "1}\"",
         "v=12 req=7 order=-4 id=2 type=1 disabled=1 nopre=1 hot=1 tips=new url=http://h/m.zip app=29.1.0 "},
        // Numbers in text are read as a base-10 strtol reads them.
        {R"("resver": "+7", "order": "5.9", "require_client_version": "\t\n\u000b\f\r 9")", "v=7 req=9 order=5 "},
        {R"("resver": "2147483647", "order": "-2147483648")", "v=2147483647 order=-2147483648 "},
        {R"("resver": "007", "order": "00000000000000000001")", "v=7 order=1 "},
        // Flags are set by the number 1 only, after truncation; identify is 0 to 2, module_type 0 or 1.
        {R"("disabled": 1.9, "preinstall": 1.9)", "disabled=1 "}, {R"("disabled": 2, "preinstall": 2)", "nopre=1 "},
        {R"("disabled": "1", "preinstall": true)", "nopre=1 "}, {R"("disabled": 0.99, "preinstall": -1)", "nopre=1 "},
        {R"("identify": 2.9)", "id=2 "}, {R"("identify": 3)", ""}, {R"("identify": -1)", ""},
        // Numbers beyond int32 saturate rather than wrap round into the range.
        {R"("identify": 4294967297)", ""}, {R"("identify": -4294967294)", ""}, {R"("identify": 1e10)", ""},
        {R"("identify": "1")", ""}, {ext + "1.5}\"", "type=1 hot=1 tips=new "},
        {ext + "2}\"", "hot=1 tips=new "}, {ext + "-1}\"", "hot=1 tips=new "}, {R"("pfile": 5, "appver": 29)", ""},
        {R"("ext": "{\"module_type\": \"1\", \"hot_update_enable\": 2, \"update_tips\": 3}")", ""},
        {R"("ext": "[1]")", ""}, {R"("ext": "{\"hot_update_enable\": 1} x")", ""},  // only an object's text counts
        {R"("ext": {"hot_update_enable": 1})", ""}};
    for (const auto& [members, expected] : cases) EXPECT_EQ(Fields(members), expected) << members;
}

TEST(Catalogue, DropsOnlyEntriesItCannotReadAndSortsTheRestByOrderKeepingTies) {
    // The name is the orgname up to its last ".zip" and must be one folder level; the display name is a text.
    std::string entries = R"({"name": "S", "orgname": "t1.zip", "order": "5"}, {"name": "S", "orgname": "abc.zip.zip"},
        {"name": "S", "orgname": ".zip"}, 1, [], null, {"orgname": "a.zip"}, {"name": "", "orgname": "b.zip"},
        {"name": 1, "orgname": "c.zip"}, {"name": "C", "orgname": 3}, {"name": "S", "orgname": "../up.zip"},
        {"name": "S", "orgname": "a/b.zip"}, {"name": "S", "orgname": "a\\b.zip"}, {"name": "S", "orgname": "...zip"},
        {"name": "S", "orgname": "..zip"}, {"name": "S", "orgname": "y.zipper"},
        {"name": "S", "orgname": "x.zip", "order": "-1"}, {"name": "S", "orgname": "t2.zip", "order": "5x"})";
    // A present number that cannot be read drops its entry alone: a guess could install the wrong package.
    for (const std::string key : {"resver", "require_client_version", "order"})
        for (const char* bad : {"5", "\"\"", "\"abc\"", "\"-\"", "\" + 1\"", "null", "[\"1\"]", "\"2147483648\"",
                                "\"-2147483649\"", "\"99999999999999999999\""})
            entries += R"(, {"name": "S", "orgname": ")" + key + ".zip\", \"" + key + "\": " + bad + "}";
    EXPECT_EQ(Listing(Entries(entries)), "x:0 abc.zip:0 y:0 t1:0 t2:0 ");
}

TEST(Catalogue, UrlPicksTheServerByEnvironmentAndCarriesTheDeviceId) {
    LiveModuleUpdater updater(nullptr, UpdaterCallbacks(), "30.0.0");
    const std::string query = "orbit/pcPlugin/getPlugins?did=" + GetMacAddress(':') + "&aid=LM_OBS_Studio_Ext";
    for (const auto& [env, base] : std::vector<std::pair<int, std::string>>{
             {0, LMTEST_URL_DEFAULT}, {1, LMTEST_URL_ALT1}, {2, LMTEST_URL_ALT2}, {-1, LMTEST_URL_DEFAULT}})
        EXPECT_EQ(Peer::CatalogueUrl(updater, env), base + query) << env;
}

TEST_F(Merge, KeepsWhatIsInstalledQueuesWhatIsNeededAndAnnouncesChangesAndOfflineModules) {
    for (ModuleRecord local : {Record("newer", 3), Record("same", 4), Record("below", 3), Record("on", 2, true),
                               Record("off", 1, true), Record("high", 2), Record("bad", 1), Record("high-on", 2, true),
                               Record("equal", 1), Record("gone", 1)}) {
        lmtest::WriteFile(modules + local.name + "/64bit/lib", "x");  // installed
        local.packageUrl = "http://old.invalid/";
        Peer::Upsert(updater, local);
    }
    // Recorded, but their folders are missing: one package waits in the staging folder.
    for (const char* name : {"waiting", "lost"}) Peer::Upsert(updater, Record(name, 4));
    lmtest::WriteZip(staging + "waiting.zip", {{"waiting/64bit/waiting_6_3_1_0.so", "lib"}});
    ModuleRecord newer = Record("newer", 5), same = Record("same", 4), below = Record("below", 6);
    newer.order = 9, newer.identify = 2, same.requiredVersion = 4, below.requiredVersion = 5;
    // The host is 30.0.0: an entry for a newer host, or whose appver cannot be compared, changes nothing.
    Peer::Merge(updater, {newer, same, below, Record("fresh", 1), Record("on", 2), Record("off", 1, true),
                          Record("high", 9, false, "30.0.1"), Record("bad", 9, false, "30.x"),
                          Record("high-on", 9, false, "31"), Record("equal", 2, false, "30.0.0"),
                          Record("unknown", 1, false, "99"), Record("waiting", 4), Record("lost", 4)});

    EXPECT_EQ(Listing(Peer::Local(updater)), "newer:3 same:4 on:2 off:1! high:2 bad:1 high-on:2! equal:1 waiting:4 ");
    EXPECT_EQ(Listing(Peer::Pending(updater)), "newer:5 below:6 fresh:1 equal:2 lost:4 ");
    EXPECT_EQ(events, (std::vector<std::string>{"installed on", "installed high-on", "offline gone"}));
    ModuleRecord local = Record("newer", 0), kept = Record("high", 0);
    ASSERT_TRUE(updater.GetModuleRecord(local) && updater.GetModuleRecord(kept));
    EXPECT_EQ(local.packageUrl + " " + std::to_string(local.order + local.identify), newer.packageUrl + " 11")
        << "every field but the version from the catalogue";
    EXPECT_EQ(kept.packageUrl, "http://old.invalid/");
    EXPECT_EQ(lmtest::ReadFile(modules + "waiting/64bit/waiting_6_3_1_0.so"), "lib");
    EXPECT_EQ(Listing(Peer::Local(*Restart())), Listing(Peer::Local(updater))) << "the merge saved what it recorded";

    // An empty catalogue takes every module offline and leaves the record file as it is.
    const std::string text = lmtest::ReadFile(info);
    events.clear(), Peer::Merge(updater, {});
    EXPECT_EQ(events.size(), 9u);
    EXPECT_TRUE(Peer::Local(updater).empty());
    EXPECT_EQ(lmtest::ReadFile(info), text);
}

TEST_F(Merge, TheFactoryIsFetchedOnlyWhenNewerAndSuitable) {
    const ModuleRecord tooNew = Record(kFactoryModuleName, 8, false, "31");
    const ModuleRecord unreadable = Record(kFactoryModuleName, 8, false, "x");
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

// A real request service and catalogue server (Online* suites hold the ports); what end-to-end tests cannot see.
TEST_F(OnlineUpdater, StartsOnceRefetchesResetModulesAndIsSilentAfterUninit) {
    // A failed install left version 0; the catalogue lists the same version, so only start-up fetches it.
    lmtest::WriteFile(info, R"({"modules": [{"name": "reset", "version": 0}]})");
    lmtest::WriteFile(modules + "reset/64bit/lib.so", "old");
    lmtest::WriteZip(root + "reset.zip", {{"reset/64bit/lib.so", "new"}});
    const auto server = lmtest::StartCatalogue(0, R"({"error": 0, "data": [{"name": "F", "orgname": )"
                                                  R"("LiveModuleFactory.zip"}, {"name": "R", "orgname": "reset.zip", )"
                                                  R"("pfile": "{base}packages/reset.zip"}]})", root);
    if (!server) GTEST_SKIP() << "this build's default catalogue server is not on loopback";
    // Uncounted requests set up the server library's lazy tables now, in ThreadSanitizer's sight.
    httplib::Client warmUp("127.0.0.1", server->Port());
    warmUp.Get("/"), warmUp.Head("/packages/none.zip");
    NetRequest net;
    ASSERT_TRUE(net.Initialize());
    LiveModuleUpdater online(&net, callbacks, "30.0.0");

    ASSERT_EQ(online.Init(modules, 0), 0);
    EXPECT_EQ(online.Init(modules, 0), 0);
    ASSERT_TRUE(lmtest::PumpUntil([&] { return !events.empty() && events.back() == "finished"; }, 20000));
    EXPECT_EQ(events, (std::vector<std::string>{"installed reset", "finished"}));
    EXPECT_EQ(server->CatalogueRequests(), 1) << "a second Init does nothing";

    // A cycle whose answer is rejected takes no module offline.
    tools::ServerFaults faults;
    faults.catalogueOverride = true, faults.catalogueBody = "{\"error\": 7}";
    server->SetFaults(faults);
    ASSERT_TRUE(Peer::FireTimer(online));
    ASSERT_TRUE(lmtest::PumpUntil(
        [&] { return log.Count("error", "[LiveModuleUpdater] Parse remote module info failed") == 1; }, 20000));

    // An answer that would take the module offline comes after Uninit: it never arrives.
    faults.catalogueOverride = false, faults.catalogueDelayMs = 300;
    server->SetFaults(faults);
    server->SetManifestText(lmtest::FactoryOnlyManifest());
    ASSERT_TRUE(Peer::FireTimer(online));
    ASSERT_TRUE(lmtest::PumpUntil([&] { return server->CatalogueRequests() == 3; }, 5000));
    online.Uninit();
    EXPECT_FALSE(Peer::FireTimer(online)) << "the timer is gone";
    lmtest::PumpFor(800);  // well past the delayed answer
    EXPECT_EQ(events.size(), 2u) << ::testing::PrintToString(events);
    EXPECT_EQ(Listing(Peer::Local(online)), "reset:0 ");
    EXPECT_EQ(log.Text().find("Http request failed"), std::string::npos);
}

TEST(JsonReader, AcceptsWhatJson11AcceptsKeepingEveryByteOfAString) {
    const std::string tooDeep = std::string(202, '[') + std::string(202, ']');
    const std::string deepest = std::string(201, '[') + std::string(201, ']');
    // Strings: raw bytes stay; \u escapes become UTF-8, a lone surrogate its three-byte form.
    const std::vector<std::pair<std::string, std::string>> strings = {
        {"\"a\xff\xc4\xa3\x80z\"", "a\xff\xc4\xa3\x80z"},
        {R"("\ud800")", "\xed\xa0\x80"},
        {R"("\udc00x")", "\xed\xb0\x80x"},
        {R"("\ud83d\ude00")", "\xf0\x9f\x98\x80"},
        {R"("\ud800\ud800\udc00")", "\xed\xa0\x80\xf0\x90\x80\x80"},
        {R"("\ud800\n")", "\xed\xa0\x80\n"},
        {R"("\u00e9\u4e2d\/\b\f\r\t\"\\")", "\xc3\xa9\xe4\xb8\xad/\b\f\r\t\"\\"},
        {R"("\u0000")", std::string(1, '\0')},
        {"\xef\xbb\xbf\"bom\"", "bom"}};
    for (const auto& [text, bytes] : strings) {
        const auto value = ReadJson(text);
        ASSERT_TRUE(value && value->is_string()) << text;
        EXPECT_EQ(value->get<std::string>(), bytes) << text;
    }
    // Numbers: up to 9 characters without fraction or exponent are integers; beyond double is infinite.
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [text, number, integer] : std::vector<std::tuple<std::string, double, bool>>{
             {"123456789", 123456789, true}, {"-12345678", -12345678, true}, {"-0", 0, true},
             {"1234567890", 1234567890, false}, {"1.5", 1.5, false}, {"2E3", 2000, false}, {"1e400", inf, false},
             {"-1e400", -inf, false}, {"1e-400", 0, false}}) {
        const auto value = ReadJson(" " + text + "\r\n\t");
        ASSERT_TRUE(value && value->is_number()) << text;
        EXPECT_EQ(value->get<double>(), number) << text;
        EXPECT_EQ(value->is_number_integer(), integer) << text;
    }
    const auto object = ReadJson(R"({"a": 1, "b": [true, false, null, {}], "a": "last"})");
    ASSERT_TRUE(object);
    EXPECT_EQ(object->dump(), R"({"a":"last","b":[true,false,null,{}]})") << "a repeated key keeps its last value";
    EXPECT_TRUE(ReadJson(deepest));
    for (const std::string& bad : {std::string("01"), std::string("1."), std::string("1e"), std::string("-"),
                                   std::string("+1"), std::string(".5"), std::string("\"\x01\""), std::string("\"\\x\""),
                                   std::string("\"\\u12\""), std::string("\"\\u12g4\""), std::string("\"open"),
                                   std::string("[1,]"), std::string("{\"a\":1,}"), std::string("{\"a\" 1}"),
                                   std::string("{1: 2}"), std::string("nul"), std::string("True"), std::string("1 2"),
                                   std::string("[1] x"), std::string("// c\n1"), std::string("\v1"), std::string(""),
                                   std::string("1\0", 2), tooDeep, std::string("NaN"), std::string("Infinity")})
        EXPECT_FALSE(ReadJson(bad)) << bad;
}

TEST(Catalogue, BytesThatAreNoUtf8CostOnlyTheirOwnTexts) {
    // A GBK display name and tips, and a Latin-1 folder name, beside an ordinary entry.
    const auto out = Entries("{\"name\": \"\xc4\xa3\xbf\xe9\", \"orgname\": \"a.zip\", "
                             "\"ext\": \"{\\\"update_tips\\\": \\\"\xd0\xc2\\\"}\"}, "
                             "{\"name\": \"Zo\xeb\", \"orgname\": \"zo\xeb.zip\", \"resver\": \"2\"}, "
                             R"({"name": "B", "orgname": "b.zip"})");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(Listing(out), "a:0 zo\xeb:2 b:0 ");
    EXPECT_EQ(out.front().moduleName + "|" + out.front().updateTips, "\xc4\xa3\xbf\xe9|\xd0\xc2");
}
