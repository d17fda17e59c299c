#include "DeviceIdentity.h"
#include "UpdaterTestKit.h"
#include "updater/Catalogue.h"

using namespace LiveModule;

namespace {

// One entry with the two required keys and the given extra members.
std::string Entry(const std::string& orgname, const std::string& extra = "") {
    return "{\"name\": \"Shown\", \"orgname\": \"" + orgname + "\"" + (extra.empty() ? "" : ", " + extra) + "}";
}

std::list<ModuleRecord> Entries(const std::string& entries) {
    std::list<ModuleRecord> out;
    EXPECT_TRUE(ParseCatalogue("{\"error\": 0, \"data\": [" + entries + "]}", out)) << entries;
    return out;
}

std::string Names(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& record : records) text += record.name + " ";
    return text;
}

// The fields of the record an entry "m.zip" with these members gives that differ from a bare
// entry's, or "dropped".
std::string Fields(const std::string& extra) {
    const std::list<ModuleRecord> out = Entries(Entry("m.zip", extra));
    if (out.empty()) return "dropped";
    const ModuleRecord& r = out.front();
    EXPECT_EQ(r.name + "|" + r.moduleName, "m|Shown");
    std::string text;
    auto add = [&](bool set, const std::string& field) { text += set ? field + " " : ""; };
    add(r.version != 0, "v" + std::to_string(r.version));
    add(r.requiredVersion != 0, "req" + std::to_string(r.requiredVersion));
    add(r.order != 0, "order" + std::to_string(r.order));
    add(r.identify != 0, "id" + std::to_string(r.identify));
    add(r.moduleType != 0, "type" + std::to_string(r.moduleType));
    add(r.disabled, "disabled");
    add(!r.preinstall, "no-preinstall");
    add(r.hotUpdateEnabled, "hot");
    add(!r.updateTips.empty(), "tips=" + r.updateTips);
    add(!r.packageUrl.empty(), "url=" + r.packageUrl);
    add(!r.appVersion.empty(), "app=" + r.appVersion);
    return text;
}

}  // namespace

TEST(Catalogue, AcceptsOnlyAnObjectWithNumericZeroErrorAndADataArray) {
    lmtest::LogCapture log;
    const std::vector<std::string> accepted = {"{\"error\": 0, \"data\": []}", " \n{\"data\": [], \"error\": 0.9}\t\r\n ",
                                               "{\"error\": -0.5, \"data\": [], \"more\": {\"x\": 1}}",
                                               "\xef\xbb\xbf{\"error\": 0, \"data\": []}"};
    const std::vector<std::string> rejected = {
        "", "not json", "[1]", "\"text\"", "{\"data\": []}", "{\"error\": \"0\", \"data\": []}",
        "{\"error\": 1, \"data\": [" + Entry("a.zip") + "]}", "{\"error\": true, \"data\": []}",
        "{\"error\": null, \"data\": []}", "{\"error\": 0}", "{\"error\": 0, \"data\": {}}",
        "{\"error\": 0, \"data\": \"[]\"}", "{\"error\": 0, \"data\": []} x", "{\"error\": 0, \"data\": []}{}",
        "{\"error\": 0, \"data\": []} // note", "{\"error\": 0, \"data\": [\"\xff\"]}", "{\"error\": 0, \"data\": [}"};
    for (const bool ok : {true, false}) {
        for (const std::string& text : ok ? accepted : rejected) {
            std::list<ModuleRecord> out(1);
            EXPECT_EQ(ParseCatalogue(text, out), ok) << text;
            EXPECT_EQ(out.size(), 1u) << "nothing is added: " << text;
        }
    }
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Parse remote module info failed { invalid param }"),
              static_cast<int>(rejected.size()));
}

TEST(Catalogue, ReadsEveryEntryFieldByItsRule) {
    const std::string ext = "\"ext\": \"{\\\"hot_update_enable\\\": 1, \\\"update_tips\\\": \\\"new\\\", ";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"\"resver\": \"12\", \"pfile\": \"http://h/m.zip\", \"disabled\": 1, \"require_client_version\": \" 7abc\", "
         "\"preinstall\": 0, \"order\": \"-4\", \"identify\": 2, \"appver\": \"29.1.0\", \"unknown\": [1], " +
             ext + "\\\"module_type\\\": 1}\"",
         "v12 req7 order-4 id2 type1 disabled no-preinstall hot tips=new url=http://h/m.zip app=29.1.0 "},
        // Numbers in text are read as a base-10 strtol reads them.
        {"\"resver\": \"+7\", \"order\": \"5.9\", \"require_client_version\": \"\\t\\n\\u000b\\f\\r 9\"", "v7 req9 order5 "},
        {"\"resver\": \"2147483647\", \"order\": \"-2147483648\"", "v2147483647 order-2147483648 "},
        {"\"resver\": \"007\", \"order\": \"00000000000000000001\"", "v7 order1 "},
        // Flags are set by the number 1 only, after truncation.
        {"\"disabled\": 1.9, \"preinstall\": 1.9", "disabled "},
        {"\"disabled\": 2, \"preinstall\": 2", "no-preinstall "},
        {"\"disabled\": \"1\", \"preinstall\": true", "no-preinstall "},
        {"\"disabled\": 0.99, \"preinstall\": -1", "no-preinstall "},
        // identify is 0 to 2, module_type 0 or 1; anything else keeps 0.
        {"\"identify\": 2.9", "id2 "},
        {"\"identify\": 3", ""}, {"\"identify\": -1", ""}, {"\"identify\": \"1\"", ""}, {"\"identify\": 1e10", ""},
        {ext + "\\\"module_type\\\": 1.5}\"", "type1 hot tips=new "},
        {"\"ext\": \"{\\\"module_type\\\": 2}\"", ""}, {"\"ext\": \"{\\\"module_type\\\": -1}\"", ""},
        {"\"ext\": \"{\\\"module_type\\\": \\\"1\\\", \\\"hot_update_enable\\\": 2, \\\"update_tips\\\": 3}\"", ""},
        // ext counts only as the text of an object.
        {"\"ext\": \"\"", ""}, {"\"ext\": \"not json\"", ""}, {"\"ext\": \"[1]\"", ""}, {"\"ext\": 7", ""},
        {"\"ext\": \"{\\\"hot_update_enable\\\": 1} x\"", ""}, {"\"ext\": {\"hot_update_enable\": 1}", ""},
        {"\"pfile\": 5, \"appver\": 29", ""},
    };
    for (const auto& [members, expected] : cases) EXPECT_EQ(Fields(members), expected) << members;

    // A present number that cannot be read drops its entry alone: a guess could install the wrong package.
    std::string entries = Entry("first.zip");
    for (const char* key : {"resver", "require_client_version", "order"}) {
        for (const char* bad : {"5", "\"\"", "\"abc\"", "\"-\"", "\" + 1\"", "null", "[\"1\"]", "\"2147483648\"",
                                "\"-2147483649\"", "\"99999999999999999999\""}) {
            entries += ", " + Entry(std::string(key) + ".zip", "\"" + std::string(key) + "\": " + bad);
        }
    }
    EXPECT_EQ(Names(Entries(entries + ", " + Entry("last.zip"))), "first last ");
}

TEST(Catalogue, NamesEntriesByOrgnameAndDropsThoseThatAreNoFolderLevel) {
    EXPECT_EQ(Names(Entries(Entry("abc.zip.zip") + ", " + Entry("abc") + ", " + Entry(".zip") + ", " +
                            Entry("x.zipper") + ", 1, [], null, {\"orgname\": \"a.zip\"}, {\"name\": \"\", "
                            "\"orgname\": \"b.zip\"}, {\"name\": 1, \"orgname\": \"c.zip\"}, {\"name\": \"C\", "
                            "\"orgname\": 3}, " + Entry("../up.zip") + ", " + Entry("a/b.zip") + ", " +
                            Entry("a\\\\b.zip") + ", " + Entry("...zip") + ", " + Entry("..zip") + ", " + Entry("d.zip"))),
              "abc.zip x d ");
}

TEST(Catalogue, SortsByOrderKeepingTiesInAnswerOrderAfterWhatTheListHeld) {
    auto ordered = [](const char* name, const char* order) {
        return Entry(std::string(name) + ".zip", std::string("\"order\": \"") + order + "\"");
    };
    std::list<ModuleRecord> out(1);
    out.front().name = "before";
    ASSERT_TRUE(ParseCatalogue("{\"error\": 0, \"data\": [" + ordered("t1", "5") + ", " + ordered("x", "-1") + ", " +
                                   ordered("t2", "5") + ", " + Entry("zero.zip") + ", " + ordered("t3", "5x") + "]}",
                               out));
    EXPECT_EQ(Names(out), "before x zero t1 t2 t3 ");
}

TEST(Catalogue, UrlPicksTheServerByEnvironmentAndCarriesTheDeviceId) {
    LiveModuleUpdater updater(nullptr, UpdaterCallbacks(), "30.0.0");
    const std::string query = "orbit/pcPlugin/getPlugins?did=" + GetMacAddress(':') + "&aid=LM_OBS_Studio_Ext";
    for (const auto& [env, base] : std::vector<std::pair<int, std::string>>{
             {0, LMTEST_URL_DEFAULT}, {1, LMTEST_URL_ALT1}, {2, LMTEST_URL_ALT2}, {5, LMTEST_URL_DEFAULT},
             {-1, LMTEST_URL_DEFAULT}}) {
        EXPECT_EQ(LiveModuleUpdaterTestPeer::CatalogueUrl(updater, env), base + query) << env;
    }
}
