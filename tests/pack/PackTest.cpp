#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "PackTool.h"
#include "TestSupport.h"
#include "updater/ZipExtractor.h"

namespace fs = std::filesystem;
using lmtest::ReadZip;
using lmtest::RunLmPack;

namespace {

const std::string kPackages = LMTEST_PACKAGES_DIR;

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode;
}

std::vector<std::string> Names(const std::vector<lmtest::ZipItem>& items) {
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(item.name);
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(PackGoodPackage, ZipHoldsExactlyTheFolderUnderItsIdAndUnpacksForTheHost) {
    lmtest::TempDir temp;
    const std::string package = temp.path() + "/pkgs/hello_service";
    fs::create_directories(temp.path() + "/pkgs");
    fs::copy(kPackages + "/hello_service", package, fs::copy_options::recursive);
    lmtest::WriteFile(package + "/readme.txt", "read me");
    lmtest::WriteFile(package + "/conf/deep/settings.ini", "[General]\n");
    fs::create_directories(package + "/data/empty");
    lmtest::WriteFile(package + "/64bit/tool.sh", "#!/bin/sh\n");
    fs::permissions(package + "/64bit/tool.sh", fs::perms(0750));
    lmtest::WriteFile(package + "/licence.txt", "fixed");
    fs::permissions(package + "/licence.txt", fs::perms(0444));
    fs::create_symlink("hello_service_6_3_1_0.so", package + "/64bit/libhello.so");  // stored as the file it names

    const auto run = RunLmPack({package, "--out", temp.path() + "/out"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Contains(run.out, "64bit/hello_service_6_4_1_0.so: module hello_service 1.0.0 loads")) << run.out;
    EXPECT_TRUE(Contains(run.out, "wrote " + temp.path() + "/out/hello_service.zip (13 entries")) << run.out;
    // Written under a temporary name, then renamed: nothing else is left beside the zip.
    EXPECT_EQ(lmtest::ExpectedEntries(temp.path() + "/out", "out"), (std::vector<std::string>{"out/", "out/hello_service.zip"}));

    const auto items = ReadZip(temp.path() + "/out/hello_service.zip");
    EXPECT_EQ(Names(items), lmtest::ExpectedEntries(package, "hello_service"));
    EXPECT_EQ(items.front().name, "hello_service/");
    for (const auto& item : items) {
        const std::string onDisk = temp.path() + "/pkgs/" + item.name;
        EXPECT_EQ(item.hostSystem, 3u) << item.name;
        EXPECT_EQ(item.mode, ModeOf(onDisk) & 0177777) << item.name;
        if (item.name.back() == '/') continue;
        EXPECT_EQ(item.method, 8) << item.name << " is not deflated";
        EXPECT_EQ(item.data, lmtest::ReadFile(onDisk)) << item.name;
    }

    // The host's own extractor gives back the same files, libraries still executable.
    const std::string modules = temp.path() + "/modules";
    ASSERT_TRUE(LiveModule::UnzipPackage(temp.path() + "/out/hello_service.zip", modules));
    for (const char* file : {"64bit/hello_service_6_3_1_0.so", "64bit/hello_service_6_4_1_0.so", "64bit/libhello.so", "64bit/tool.sh"}) {
        const std::string extracted = modules + "/hello_service/" + file;
        EXPECT_EQ(lmtest::ReadFile(extracted), lmtest::ReadFile(package + "/" + file)) << file;
        EXPECT_TRUE(ModeOf(extracted) & S_IXUSR) << file;
        EXPECT_FALSE(fs::is_symlink(extracted)) << file;
    }
    EXPECT_FALSE(ModeOf(modules + "/hello_service/licence.txt") & 0222);
    EXPECT_TRUE(fs::is_directory(modules + "/hello_service/data/empty"));
    // What was unpacked is a good package again, and a second run replaces the zip.
    EXPECT_EQ(RunLmPack({modules + "/hello_service", "--out", temp.path() + "/again"}).exitCode, 0);
    EXPECT_EQ(RunLmPack({"hello_service", "--out", "../out"}, temp.path() + "/pkgs").exitCode, 0);
    EXPECT_EQ(lmtest::ExpectedEntries(temp.path() + "/out", "out"), (std::vector<std::string>{"out/", "out/hello_service.zip"}));
}

TEST(PackGoodPackage, WebPluginPacksWithoutALibrary) {
    lmtest::TempDir temp;
    const auto run = RunLmPack({kPackages + "/web_panel", "--out", temp.path()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "web_panel is a web plug-in package")) << run.out;
    EXPECT_EQ(Names(ReadZip(temp.path() + "/web_panel.zip")),
              (std::vector<std::string>{"web_panel/", "web_panel/index.html", "web_panel/web_panel.webdll"}));
}

// Each broken package is refused with its own message, a non-zero exit and no zip.
TEST(PackRefusal, EachBrokenPackageIsRefusedInPlainWords) {
    struct Case {
        std::string folder;
        std::vector<std::pair<std::string, std::string>> libraries;  // tag, variant
        std::vector<std::string> extraArguments;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"noexport", {{"6_3_1_0", "noexport"}}, {}, {"64bit/noexport_6_3_1_0.so: does not export LiveModuleUnload"}},
        {"alpha-1.0", {{"6_3_1_0", "alpha"}}, {"--id", "alpha"},
         {"wrong top folder name: the folder is named 'alpha-1.0' but the module id is 'alpha'"}},
        {"dupe", {{"6_3_1_0", "dupe"}}, {}, {"id differs from the folder: the module reports 'alpha' but the package is 'dupe'"}},
        {"lowapi", {{"6_4_1_0", "lowapi"}}, {}, {"built against a too-old API: GetApiVersion reports 202211109"}},
        {"highfactory", {{"6_3_1_0", "highfactory"}}, {}, {"needs a newer factory: GetFactoryApiVersion reports 202211111"}},
        {"nullinst", {{"6_3_1_0", "nullinst"}}, {}, {"LiveModuleLoad returned no module"}},
        {"orphan", {}, {}, {"no 64bit folder"}},
        {"LiveModuleFactory", {{"6_3_1_0", "alpha"}}, {}, {"LiveModuleFactory is the factory's own package"}},
    };
    for (const Case& c : cases) {
        lmtest::TempDir temp;
        const std::string package = temp.path() + "/" + c.folder;
        fs::create_directories(package);
        const std::string id = c.extraArguments.empty() ? c.folder : c.extraArguments.back();
        for (const auto& [tag, variant] : c.libraries) lmtest::AddLibrary(package, id, tag, variant);
        std::vector<std::string> arguments{package, "--out", temp.path() + "/out"};
        arguments.insert(arguments.end(), c.extraArguments.begin(), c.extraArguments.end());
        const auto run = RunLmPack(arguments);
        EXPECT_EQ(run.exitCode, 1) << c.folder;
        EXPECT_TRUE(Contains(run.err, "refused, nothing written")) << run.err;
        for (const std::string& message : c.expected) EXPECT_TRUE(Contains(run.err, message)) << c.folder << ":\n" << run.err;
        EXPECT_FALSE(lmtest::Exists(temp.path() + "/out")) << c.folder;
    }
}

TEST(PackRefusal, FolderNamesThatAreNoModuleNames) {
    lmtest::TempDir temp;
    lmtest::AddLibrary(temp.path() + "/alpha", "alpha", "6_3_1_0", "alpha");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"."}, "wrong top folder name: '.' is no usable module name"},
        {{"alpha/.."}, "wrong top folder name: '..' is no usable module name"},
        {{"alpha", "--id", "a\\b"}, "the id 'a\\b' is no usable module name"},
        {{"alpha", "--id", "x/alpha"}, "the id 'x/alpha' is no usable module name"},
        {{"alpha", "--id", ""}, "the id '' is no usable module name"},
    };
    for (const auto& [arguments, message] : cases) {
        const auto run = RunLmPack(arguments, temp.path());
        EXPECT_EQ(run.exitCode, 1) << arguments.front();
        EXPECT_TRUE(Contains(run.err, message)) << run.err;
    }
    EXPECT_EQ(lmtest::ExpectedEntries(temp.path(), "t").size(), 4u) << "nothing was written";
}

TEST(PackRefusal, NoLibraryForAnyTagNamesWhatIsThereInstead) {
    lmtest::TempDir temp;
    const std::string package = temp.path() + "/gamma";
    lmtest::AddLibrary(package, "beta", "6_3_1_0", "beta");    // built for another id
    lmtest::AddLibrary(package, "gamma", "6_5_0_0", "gamma");  // a tag nobody asked for
    const auto run = RunLmPack({package, "--out", temp.path(), "--tags", "6_3_1_0,6_4_1_0"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "no library for any tag: expected at least one of 64bit/gamma_6_3_1_0.so, 64bit/gamma_6_4_1_0.so"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "64bit/beta_6_3_1_0.so is named for another module id ('beta')")) << run.err;
    EXPECT_TRUE(Contains(run.err, "64bit/gamma_6_5_0_0.so is for tag 6_5_0_0, which is not among the tags checked")) << run.err;

    // With that tag asked for, the package is good; the tag without a build is only noted.
    const auto tagged = RunLmPack({package, "--out", temp.path() + "/out", "--tags", "6_5_0_0,6_3_1_0"});
    EXPECT_EQ(tagged.exitCode, 0) << tagged.err;
    EXPECT_TRUE(Contains(tagged.err, "note: no build for tag 6_3_1_0")) << tagged.err;
}

TEST(PackRefusal, CrashingAndUnloadableLibrariesAreReportedTogetherWithEveryOtherProblem) {
    lmtest::TempDir temp;
    const std::string package = temp.path() + "/Crash";
    lmtest::AddLibrary(package, "crashload", "6_3_1_0", "crashload");
    lmtest::AddLibrary(package, "crashload", "6_4_1_0", "lowapi");
    lmtest::WriteFile(package + "/64bit/crashload_6_5_0_0.so", "not a library");
    const auto run = RunLmPack({package, "--id", "crashload", "--tags", "6_3_1_0,6_4_1_0,6_5_0_0", "--out", temp.path() + "/out"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(Contains(run.err, "refused, nothing written (5 problems)")) << run.err;
    EXPECT_TRUE(Contains(run.err, "wrong top folder name: the folder is named 'Crash'")) << run.err;
    // A sanitizer catches the fault itself and ends the process; unsanitised, the signal kills it.
    EXPECT_TRUE(Contains(run.err, "64bit/crashload_6_3_1_0.so: crashed in LiveModuleLoad: killed by signal 11") ||
                Contains(run.err, "64bit/crashload_6_3_1_0.so: ended the process in LiveModuleLoad"))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "64bit/crashload_6_4_1_0.so: id differs from the folder: the module reports 'lowapi'")) << run.err;
    EXPECT_TRUE(Contains(run.err, "64bit/crashload_6_4_1_0.so: built against a too-old API")) << run.err;
    EXPECT_TRUE(Contains(run.err, "64bit/crashload_6_5_0_0.so: cannot be loaded: ")) << run.err;
    EXPECT_FALSE(lmtest::Exists(temp.path() + "/out"));
}

TEST(PackManifest, CreatedThenUpdatedInPlaceKeepingOtherEntries) {
    lmtest::TempDir temp;
    const std::string manifest = temp.path() + "/catalogue/manifest.json";
    const std::string out = temp.path() + "/catalogue/packages";
    auto first = RunLmPack({kPackages + "/hello_service", "--out", out, "--manifest", manifest, "--version", "1"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(Contains(first.out, "added hello_service.zip version 1 in " + manifest)) << first.out;
    auto created = nlohmann::ordered_json::parse(lmtest::ReadFile(manifest));
    const auto entry = [](const char* name, const char* version) {
        return nlohmann::ordered_json{{"name", name},
                                      {"orgname", std::string(name) + ".zip"},
                                      {"resver", version},
                                      {"pfile", "{base}packages/" + std::string(name) + ".zip"},
                                      {"disabled", 0},
                                      {"preinstall", 1},
                                      {"order", "0"},
                                      {"require_client_version", "0"},
                                      {"identify", 0},
                                      {"ext", "{}"}};
    };
    EXPECT_EQ(created, (nlohmann::ordered_json{{"error", 0}, {"data", {entry("LiveModuleFactory", "0"), entry("hello_service", "1")}}}));

    // Hand edits: another module at the end, and settings of this one that no option covers.
    created["data"][1]["ext"] = R"({"hot_update_enable":1})";
    created["data"][1]["name"] = "Hello service";
    created["data"].push_back(entry("downloader", "7"));
    lmtest::WriteFile(manifest, created.dump(1));

    auto second = RunLmPack({kPackages + "/hello_service", "--out", out, "--manifest", manifest, "--version", "2", "--order",
                             "-3", "--required", "1", "--appver", "30.0.0", "--base", "http://127.0.0.1:18601/"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(Contains(second.out, "updated hello_service.zip version 2")) << second.out;
    auto expected = created;
    auto& updated = expected["data"][1];
    updated["resver"] = "2";
    updated["pfile"] = "http://127.0.0.1:18601/packages/hello_service.zip";
    updated["order"] = "-3";
    updated["require_client_version"] = "1";
    updated["appver"] = "30.0.0";
    EXPECT_EQ(nlohmann::ordered_json::parse(lmtest::ReadFile(manifest)), expected);
    EXPECT_EQ(lmtest::ExpectedEntries(temp.path() + "/catalogue", "c"),
              (std::vector<std::string>{"c/", "c/manifest.json", "c/packages/", "c/packages/hello_service.zip"}));
}

TEST(PackManifest, AManifestThatIsNoCatalogueAnswerStopsEverything) {
    lmtest::TempDir temp;
    const std::string manifest = temp.path() + "/manifest.json";
    for (const char* text : {"", "[1, 2]", R"({"error": 0, "data": {}})", "{\"error\": 0, \"data\": [] trailing"}) {
        lmtest::WriteFile(manifest, text);
        const auto run = RunLmPack({kPackages + "/web_panel", "--out", temp.path() + "/out", "--manifest", manifest, "--version", "1"});
        EXPECT_EQ(run.exitCode, 1) << text;
        EXPECT_TRUE(Contains(run.err, "is no catalogue answer")) << run.err;
        EXPECT_EQ(lmtest::ReadFile(manifest), text);
        EXPECT_FALSE(lmtest::Exists(temp.path() + "/out"));
    }
}

TEST(PackUsage, WrongCommandLinesExitWithUsage) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{},
                                               {"a", "b"},
                                               {"a", "--version", "1"},
                                               {"a", "--manifest", "m.json"},
                                               {"a", "--manifest", "m.json", "--version", "1.5"},
                                               {"a", "--manifest", "m.json", "--version", "1", "--base", "http://x"},
                                               {"a", "--tags", "6_3_1_0,,6_4_1_0"},
                                               {"a", "--tags", "6_3_1_0,6_3_1_0"},
                                               {"a", "--out"},
                                               {"a", "--frobnicate", "1"}}) {
        const auto run = RunLmPack(arguments);
        EXPECT_EQ(run.exitCode, 64) << (arguments.empty() ? "" : arguments.back());
        EXPECT_TRUE(Contains(run.err, "usage: lm-pack FOLDER")) << run.err;
    }
}
