#include <gtest/gtest.h>

#include "updater/CompactJson.h"
#include "updater/ModuleInfoFile.h"

using namespace LiveModule;

namespace {
ModuleRecord Record(const std::string& name, const std::string& moduleName, int32_t version, bool disabled) {
    ModuleRecord record;
    record.name = name, record.moduleName = moduleName, record.version = version, record.disabled = disabled;
    return record;
}
}  // namespace

TEST(CompactJson, EscapesAndOrdersAsJson11Does) {
    std::string controls;
    for (char c = 1; c < 0x20; ++c) controls += c;
    EXPECT_EQ(CompactJson::String(controls + "\"\\/\x7f"),
              "\"\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f\\u0010\\u0011"
              "\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f"
              "\\\"\\\\/\x7f\"");
    EXPECT_EQ(CompactJson::String(std::string("a\0b", 3)), "\"a\\u0000b\"");
    // U+2028 and U+2029 are escaped; their neighbours, a cut-off sequence and other UTF-8 are not.
    EXPECT_EQ(CompactJson::String("\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\xaa|\xc3\xa9|\xe2\x80"),
              "\"\\u2028|\\u2029|\xe2\x80\xaa|\xc3\xa9|\xe2\x80\"");
    // Keys by unsigned bytes: "B" < "a" < "aa" < "b" < "\xc3\xa9".
    EXPECT_EQ(CompactJson::Object({{"b", "1"}, {"\xc3\xa9", "2"}, {"aa", "3"}, {"a", "4"}, {"B", "5"}}),
              "{\"B\": 5, \"a\": 4, \"aa\": 3, \"b\": 1, \"\xc3\xa9\": 2}");
    EXPECT_EQ(CompactJson::Object({}) + CompactJson::Array({}), "{}[]");
    EXPECT_EQ(CompactJson::Array({CompactJson::Integer(INT32_MIN), CompactJson::Boolean(true)}), "[-2147483648, true]");
}

TEST(ModuleInfoFile, WritesTheRecordLineAndReadsItBackByteForByte) {
    ModuleRecord factory = Record(kFactoryModuleName, "", 7, false);
    EXPECT_EQ(SerializeModuleInfo(factory, {Record("example", "Example", 12, false)}),
              "{\"modules\": [{\"moduleName\": \"LiveModuleFactory\", \"name\": \"LiveModuleFactory\", \"version\": 7}, "
              "{\"disabled\": false, \"moduleName\": \"Example\", \"name\": \"example\", \"version\": 12}]}");

    const std::string awkward = std::string("q\"b\\s\b\f\n\r\t\x01\x1f\0end", 16) + "\xe2\x80\xa8\xe2\x80\xa9\xe4\xb8\xad";
    const std::list<ModuleRecord> written = {Record(awkward, awkward, -4, true), Record("dup", "", 1, false),
                                             Record("dup", "second", 2, false), Record("", "no name", 3, false)};
    const std::string text = SerializeModuleInfo(factory, written);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    ModuleRecord readFactory;
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(text, readFactory, read));
    EXPECT_EQ(readFactory.version, 7);
    ASSERT_EQ(read.size(), 4u) << "duplicates and empty names stay; the factory is not listed";
    EXPECT_EQ(read.front().name, awkward);
    EXPECT_EQ(read.front().moduleName, awkward);
    EXPECT_TRUE(read.front().disabled);
    EXPECT_EQ(std::next(read.begin(), 2)->moduleName, "second");
    EXPECT_EQ(SerializeModuleInfo(readFactory, read), text);
}

TEST(ModuleInfoFile, TakesWhatItCanAndRejectsWhatIsNoObject) {
    ModuleRecord factory;
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(
        R"({"modules": [{"name": "a", "version": 12.9, "disabled": 1, "moduleName": 5}, {"name": "b", "version": -3.7},
            {"name": "c", "version": 1e300}, {"name": "d", "version": -99999999999}, {"name": "e", "version": "5"},
            7, {"name": "LiveModuleFactory", "version": 4294967295}], "other": 1})",
        factory, read));
    EXPECT_EQ(factory.version, INT32_MAX);
    std::vector<std::pair<std::string, int32_t>> got;
    for (const ModuleRecord& record : read) got.emplace_back(record.name + (record.disabled ? "!" : ""), record.version);
    const std::vector<std::pair<std::string, int32_t>> expected = {{"a", 12}, {"b", -3}, {"c", INT32_MAX},
                                                                   {"d", INT32_MIN}, {"e", 0}, {"", 0}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(read.front().moduleName, "");

    for (const char* bad : {"", "not json", "{", "[1, 2]", "\"text\"", "{} x", "{\"a\": 1,}"}) {
        EXPECT_FALSE(ParseModuleInfo(bad, factory, read)) << bad;
    }
    EXPECT_EQ(read.size(), 6u);
    EXPECT_TRUE(ParseModuleInfo("{\"modules\": 5}", factory, read));
    EXPECT_EQ(read.size(), 6u);
}
