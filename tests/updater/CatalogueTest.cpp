#include <gtest/gtest.h>

#include "DeviceIdentity.h"
#include "LogCapture.h"
#include "UpdaterPeer.h"
#include "updater/Catalogue.h"
#include "updater/HostRequirement.h"

using namespace LiveModule;

namespace {

const char* const kRejected = "[LiveModuleUpdater] Parse remote module info failed { invalid param }";

// The records a successful answer with these entries gives.
std::list<ModuleRecord> Entries(const std::string& entries) {
    std::list<ModuleRecord> out;
    EXPECT_TRUE(ParseCatalogue("{\"error\": 0, \"data\": [" + entries + "]}", out)) << entries;
    return out;
}

// One entry with the two required keys and the given extra members.
std::string Entry(const std::string& orgname, const std::string& extra = "") {
    return "{\"name\": \"Shown\", \"orgname\": \"" + orgname + "\"" + (extra.empty() ? "" : ", " + extra) + "}";
}

ModuleRecord Only(const std::string& extra) {
    const std::list<ModuleRecord> out = Entries(Entry("m.zip", extra));
    EXPECT_EQ(out.size(), 1u) << extra;
    return out.empty() ? ModuleRecord() : out.front();
}

std::string Names(const std::list<ModuleRecord>& records) {
    std::string text;
    for (const ModuleRecord& record : records) text += record.name + " ";
    return text;
}

}  // namespace

TEST(CatalogueEnvelope, AcceptsOnlyAnObjectWithNumericZeroErrorAndADataArray) {
    lmtest::LogCapture log;
    const std::vector<std::string> rejected = {
        "", "not json", "[1]", "\"text\"", "{\"data\": []}", "{\"error\": \"0\", \"data\": []}",
        "{\"error\": 1, \"data\": [" + Entry("a.zip") + "]}", "{\"error\": true, \"data\": []}",
        "{\"error\": null, \"data\": []}", "{\"error\": 0}", "{\"error\": 0, \"data\": {}}",
        "{\"error\": 0, \"data\": \"[]\"}", "{\"error\": 0, \"data\": []} x", "{\"error\": 0, \"data\": []}{}",
        "{\"error\": 0, \"data\": []} // note", "{\"error\": 0, \"data\": [\"\xff\"]}", "{\"error\": 0, \"data\": [}"};
    for (const std::string& text : rejected) {
        std::list<ModuleRecord> out(1);
        EXPECT_FALSE(ParseCatalogue(text, out)) << text;
        EXPECT_EQ(out.size(), 1u) << "nothing is added: " << text;
    }
    EXPECT_EQ(log.Count("error", kRejected), static_cast<int>(rejected.size()));

    for (const char* text : {"{\"error\": 0, \"data\": []}", " \n{\"data\": [], \"error\": 0.9}\t\r\n ",
                             "{\"error\": -0.5, \"data\": [], \"more\": {\"x\": 1}}"}) {
        std::list<ModuleRecord> out;
        EXPECT_TRUE(ParseCatalogue(text, out) && out.empty()) << text;
    }
    EXPECT_EQ(log.Count("error", kRejected), static_cast<int>(rejected.size()));

    nlohmann::json object;
    EXPECT_EQ(ParseEnvelope("{\"error\": 0, \"x\": 5}", object), 0);
    EXPECT_EQ(object.value("x", 0), 5);
    EXPECT_EQ(ParseEnvelope("{\"error\": 2}", object), -1);
}

TEST(CatalogueEntries, TakeEveryFieldByItsRule) {
    const ModuleRecord full = Only(
        "\"resver\": \"12\", \"pfile\": \"http://h/m.zip\", \"disabled\": 1, \"require_client_version\": \" 7abc\", "
        "\"preinstall\": 0, \"order\": \"-4\", \"identify\": 2, \"appver\": \"29.1.0\", \"unknown\": [1], "
        "\"ext\": \"{\\\"hot_update_enable\\\": 1, \\\"update_tips\\\": \\\"new\\\", \\\"module_type\\\": 1}\"");
    EXPECT_EQ(full.name, "m");
    EXPECT_EQ(full.moduleName, "Shown");
    EXPECT_EQ(full.version, 12);
    EXPECT_EQ(full.requiredVersion, 7);
    EXPECT_EQ(full.order, -4);
    EXPECT_EQ(full.packageUrl, "http://h/m.zip");
    EXPECT_EQ(full.appVersion, "29.1.0");
    EXPECT_TRUE(full.disabled && full.hotUpdateEnabled);
    EXPECT_FALSE(full.preinstall);
    EXPECT_EQ(full.identify, 2);
    EXPECT_EQ(full.moduleType, 1);
    EXPECT_EQ(full.updateTips, "new");

    const ModuleRecord bare = Only("");
    EXPECT_TRUE(bare.preinstall) << "absent preinstall";
    EXPECT_EQ(bare.version + bare.requiredVersion + bare.order + bare.identify + bare.moduleType, 0);
    EXPECT_TRUE(bare.packageUrl.empty() && bare.appVersion.empty() && !bare.disabled && !bare.hotUpdateEnabled);
    EXPECT_TRUE(Only("\"pfile\": 5, \"appver\": 29").packageUrl.empty());
    EXPECT_TRUE(Only("\"pfile\": 5, \"appver\": 29").appVersion.empty());

    for (const auto& [member, disabled, preinstall] : std::vector<std::tuple<std::string, bool, bool>>{
             {"1.9", true, true}, {"2", false, false}, {"1", true, true}, {"\"1\"", false, false},
             {"true", false, false}, {"0.99", false, false}, {"-1", false, false}}) {
        const ModuleRecord record = Only("\"disabled\": " + member + ", \"preinstall\": " + member);
        EXPECT_EQ(record.disabled, disabled) << member;
        EXPECT_EQ(record.preinstall, preinstall) << member;
    }
    for (const auto& [member, expected] : std::vector<std::pair<std::string, int>>{
             {"3", 0}, {"-1", 0}, {"0", 0}, {"1", 1}, {"2.9", 2}, {"\"1\"", 0}, {"1e10", 0}}) {
        EXPECT_EQ(Only("\"identify\": " + member).identify, expected) << member;
    }
    for (const auto& [member, expected] : std::vector<std::pair<std::string, int>>{
             {"2", 0}, {"1", 1}, {"1.5", 1}, {"-1", 0}, {"\\\"1\\\"", 0}}) {
        EXPECT_EQ(Only("\"ext\": \"{\\\"module_type\\\": " + member + "}\"").moduleType, expected) << member;
    }
}

TEST(CatalogueEntries, ReadLeadingIntegersAsStrtolDoes) {
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int32_t>>{
             {"12abc", 12}, {"+7", 7}, {"-3", -3}, {"\\t\\n\\u000b\\f\\r 9", 9}, {"007", 7}, {"5.9", 5},
             {"2147483647", 2147483647}, {"-2147483648", INT32_MIN}, {"00000000000000000001", 1}}) {
        EXPECT_EQ(Only("\"resver\": \"" + text + "\"").version, expected) << text;
    }
}

TEST(CatalogueEntries, DropOnlyTheEntriesTheyCannotRead) {
    EXPECT_EQ(Names(Entries(Entry("abc.zip.zip") + ", " + Entry("abc") + ", " + Entry(".zip") + ", " +
                            Entry("x.zipper"))),
              "abc.zip x ");
    EXPECT_EQ(Names(Entries("1, [], null, {\"orgname\": \"a.zip\"}, {\"name\": \"\", \"orgname\": \"b.zip\"}, "
                            "{\"name\": 1, \"orgname\": \"c.zip\"}, {\"name\": \"C\", \"orgname\": 3}, " +
                            Entry("d.zip"))),
              "d ");
    EXPECT_EQ(Names(Entries(Entry("../up.zip") + ", " + Entry("a/b.zip") + ", " + Entry("a\\\\b.zip") + ", " +
                            Entry("...zip") + ", " + Entry("..zip") + ", " + Entry("ok.zip"))),
              "ok ")
        << "names that are not one folder level";

    std::string entries = Entry("first.zip");
    for (const char* key : {"resver", "require_client_version", "order"}) {
        for (const char* bad : {"5", "\"\"", "\"abc\"", "\"-\"", "\" + 1\"", "null", "[\"1\"]", "\"2147483648\"",
                                "\"-2147483649\"", "\"99999999999999999999\""}) {
            entries += ", " + Entry(std::string(key) + ".zip", "\"" + std::string(key) + "\": " + bad);
        }
    }
    EXPECT_EQ(Names(Entries(entries + ", " + Entry("last.zip"))), "first last ");
}

TEST(CatalogueEntries, ExtFieldsComeOnlyFromAnObjectText) {
    for (const char* ext : {"\"\"", "\"not json\"", "\"[1]\"", "\"{\\\"hot_update_enable\\\": 1} x\"",
                            "{\"hot_update_enable\": 1}", "7"}) {
        const ModuleRecord record = Only(std::string("\"ext\": ") + ext);
        EXPECT_FALSE(record.hotUpdateEnabled) << ext;
        EXPECT_TRUE(record.updateTips.empty()) << ext;
    }
    ModuleRecord record;
    record.hotUpdateEnabled = true, record.updateTips = "kept";
    ParseExt("{\"module_type\": 1}", record);
    EXPECT_TRUE(record.hotUpdateEnabled && record.updateTips == "kept" && record.moduleType == 1);
    ParseExt("{\"hot_update_enable\": 2, \"update_tips\": 3}", record);
    EXPECT_FALSE(record.hotUpdateEnabled);
    EXPECT_EQ(record.updateTips, "kept");
}

TEST(CatalogueEntries, ComeSortedByOrderKeepingTiesInAnswerOrder) {
    auto ordered = [](const char* name, const char* order) {
        return Entry(std::string(name) + ".zip", std::string("\"order\": \"") + order + "\"");
    };
    EXPECT_EQ(Names(Entries(ordered("c", "3") + ", " + ordered("a", "1") + ", " + ordered("b", "2"))), "a b c ");
    EXPECT_EQ(Names(Entries(ordered("t1", "5") + ", " + ordered("x", "-1") + ", " + ordered("t2", "5") + ", " +
                            Entry("zero.zip") + ", " + ordered("t3", "5x"))),
              "x zero t1 t2 t3 ");
    std::list<ModuleRecord> out(1);
    out.front().name = "before";
    ASSERT_TRUE(ParseCatalogue("{\"error\": 0, \"data\": [" + ordered("z", "-9") + "]}", out));
    EXPECT_EQ(Names(out), "before z ") << "appended after what the list held";
}

TEST(CatalogueUrl, PicksTheServerByEnvironmentAndCarriesTheDeviceId) {
    LiveModuleUpdater updater(nullptr, UpdaterCallbacks(), "30.0.0");
    const std::string query = "orbit/pcPlugin/getPlugins?did=" + GetMacAddress(':') + "&aid=LM_OBS_Studio_Ext";
    for (const auto& [env, base] : std::vector<std::pair<int, std::string>>{
             {0, LMTEST_URL_DEFAULT}, {1, LMTEST_URL_ALT1}, {2, LMTEST_URL_ALT2}, {5, LMTEST_URL_DEFAULT},
             {-1, LMTEST_URL_DEFAULT}}) {
        EXPECT_EQ(LiveModuleUpdaterTestPeer::CatalogueUrl(updater, env), base + query) << env;
    }
}

TEST(HostRequirement, NeverLetsAVersionThatCannotBeComparedThrough) {
    EXPECT_TRUE(SuitsHost("", "30.0.0") && SuitsHost("99", "") && SuitsHost("30", "30.0.0.0"));
    EXPECT_TRUE(SuitsHost("29.9.9", "30.0.0") && !SuitsHost("30.0.1", "30.0.0"));
    EXPECT_TRUE(SuitsHost("1.0", "2.x")) << "the differing first component decides before x is read";
    for (const char* bad : {"x", "30.a", "30..1", "99999999999", "30.0.0.-"}) {
        EXPECT_FALSE(SuitsHost(bad, "30.0.0")) << bad;
        EXPECT_FALSE(SuitsHost("30.0.0", bad)) << bad;
    }
}
