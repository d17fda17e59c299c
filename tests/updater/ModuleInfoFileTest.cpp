#include <gtest/gtest.h>

#include "updater/CompactJson.h"
#include "updater/ModuleInfoFile.h"

using namespace LiveModule;

namespace {
ModuleRecord Record(const std::string& name, const std::string& moduleName, int32_t version, bool disabled = false) {
    ModuleRecord record;
    record.name = name, record.moduleName = moduleName, record.version = version, record.disabled = disabled;
    return record;
}
}  // namespace

TEST(ModuleInfoFile, WritesTheRecordLineAsJson11DoesAndReadsItBackByteForByte) {
    std::string controls(1, '\0');
    for (char c = 1; c < 0x20; ++c) controls += c;
    // U+2028 and U+2029 are escaped; their neighbour, other UTF-8 and a cut-off sequence are not.
    EXPECT_EQ(CompactJson::String(controls + "\"\\/\x7f|\xe2\x80\xa8|\xe2\x80\xa9|\xe2\x80\xaa|\xc3\xa9|\xe2\x80"),
              "\"\\u0000\\u0001\\u0002\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f"
              "\\u0010\\u0011\\u0012\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d"
              "\\u001e\\u001f\\\"\\\\/\x7f|\\u2028|\\u2029|\xe2\x80\xaa|\xc3\xa9|\xe2\x80\"");
    const ModuleRecord factory = Record(kFactoryModuleName, "", 7);
    EXPECT_EQ(SerializeModuleInfo(factory, {Record("example", "Example", 12)}),
              "{\"modules\": [{\"moduleName\": \"LiveModuleFactory\", \"name\": \"LiveModuleFactory\", \"version\": 7}, "
              "{\"disabled\": false, \"moduleName\": \"Example\", \"name\": \"example\", \"version\": 12}]}");

    const std::string awkward = controls + "q\"b\\s\xe2\x80\xa8\xe2\x80\xa9\xe4\xb8\xad";
    const std::string text = SerializeModuleInfo(factory, {Record(awkward, awkward, -4, true), Record("dup", "", 1),
                                                           Record("dup", "second", 2), Record("", "no name", 3)});
    EXPECT_EQ(text.find('\n'), std::string::npos);
    ModuleRecord readFactory;
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(text, readFactory, read));
    ASSERT_EQ(read.size(), 4u) << "duplicates and empty names stay; the factory is not listed";
    EXPECT_EQ(read.front().name, awkward);
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
    std::string got;
    for (const ModuleRecord& r : read) got += r.name + ":" + std::to_string(r.version) + (r.disabled ? "! " : " ");
    EXPECT_EQ(got, "a:12 b:-3 c:2147483647 d:-2147483648 e:0 :0 ");
}
