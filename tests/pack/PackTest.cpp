#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unzip.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "TestSupport.h"
#include "updater/JsonReader.h"
#include "updater/PackageVerifier.h"
#include "updater/ZipExtractor.h"

// The built lm-pack run as a separate program over packages laid out from the test tree's real module
// builds; its zips are read back with minizip and unpacked with the host's own extractor.
namespace fs = std::filesystem;
using namespace lmtest;

namespace {

struct ToolRun {
    int exitCode;
    std::string out, err;
};

// Runs lm-pack in `dir` through the shell, each argument single-quoted.
ToolRun Pack(const std::vector<std::string>& arguments, const std::string& dir = ".") {
    TempDir capture("lmpack-run");
    std::string command = "cd '" + dir + "' && exec '" LMTEST_LM_PACK "'";
    for (std::string word : arguments) {
        for (size_t at = 0; (at = word.find('\'', at)) != std::string::npos; at += 4) word.replace(at, 1, "'\\''");
        command += " '" + word + "'";
    }
    const int status = std::system((command + " >" + capture.path() + "/out 2>" + capture.path() + "/err").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), ReadFile(capture.path() + "/out"),
            ReadFile(capture.path() + "/err")};
}

// True when `text` holds one of the '|'-separated alternatives.
bool Holds(const std::string& text, const std::string& alternatives) {
    std::istringstream list(alternatives);
    for (std::string part; std::getline(list, part, '|');) if (text.find(part) != std::string::npos) return true;
    return false;
}

// Every file and folder below `root` (links followed) as "<prefix>/<relative>", folders ending in "/",
// the root itself as "<prefix>/".
std::set<std::string> Tree(const std::string& root, const std::string& prefix) {
    std::set<std::string> names{prefix + "/"};
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        names.insert(prefix + "/" + entry.path().lexically_relative(root).string() + (entry.is_directory() ? "/" : ""));
    }
    return names;
}

// The entry names of the zip; none when minizip cannot read it.
std::set<std::string> ZipNames(const std::string& path) {
    std::set<std::string> names;
    unzFile zip = unzOpen64(path.c_str());  // minizip's calls refuse a null handle
    for (int at = unzGoToFirstFile(zip); at == UNZ_OK; at = unzGoToNextFile(zip)) {
        char name[1024] = {};
        unzGetCurrentFileInfo64(zip, nullptr, name, sizeof name, nullptr, 0, nullptr, 0);
        names.insert(name);
    }
    unzClose(zip);
    return names;
}

}  // namespace

TEST(PackGoodPackage, ZipHoldsExactlyTheFolderUnderItsIdAndUnpacksForTheHost) {
    TempDir temp;
    const std::string package = temp.path() + "/pkgs/hello_service", zip = temp.path() + "/out/hello_service.zip";
    fs::create_directories(temp.path() + "/pkgs");
    fs::copy(LMTEST_PACKAGES_DIR "/hello_service", package, fs::copy_options::recursive);
    WriteFile(package + "/conf/deep/settings.ini", "[General]\n");
    fs::create_directories(package + "/data/empty");
    WriteFile(package + "/64bit/tool.sh", "#!/bin/sh\n");
    fs::permissions(package + "/64bit/tool.sh", fs::perms(0750));
    WriteFile(package + "/licence.txt", "fixed");
    fs::permissions(package + "/licence.txt", fs::perms(0444));
    fs::create_symlink("hello_service_6_3_1_0.so", package + "/64bit/libhello.so");  // packed as the file it names

    const ToolRun run = Pack({package, "--out", temp.path() + "/out"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_TRUE(Holds(run.out, "64bit/hello_service_6_4_1_0.so: module hello_service 1.0.0 loads")) << run.out;
    // A relative folder works too, and the zip is replaced through a temporary file that does not stay.
    EXPECT_EQ(Pack({"hello_service", "--out", "../out"}, temp.path() + "/pkgs").exitCode, 0);
    EXPECT_EQ(Tree(temp.path() + "/out", "out"), (std::set<std::string>{"out/", "out/hello_service.zip"}));
    EXPECT_EQ(ZipNames(zip), Tree(package, "hello_service"));

    // The host's extractor gives back every file with its bytes and permissions: libraries stay executable.
    const std::string unpacked = temp.path() + "/modules/hello_service";
    ASSERT_TRUE(LiveModule::UnzipPackage(zip, temp.path() + "/modules"));
    EXPECT_EQ(Tree(unpacked, "hello_service"), Tree(package, "hello_service"));
    for (const auto& entry : fs::recursive_directory_iterator(package)) {
        if (entry.is_directory()) continue;
        const std::string extracted = unpacked + "/" + entry.path().lexically_relative(package).string();
        EXPECT_EQ(ReadFile(extracted), ReadFile(entry.path())) << extracted;
        EXPECT_TRUE(fs::status(extracted).permissions() == entry.status().permissions()) << extracted;
    }
}

// Each package gets its verdict: refused ones with their own messages, a non-zero exit and no zip.
TEST(PackVerdict, EachPackageIsJudgedTheWayTheHostWouldLoadIt) {
    struct Case {
        std::vector<std::string> arguments;  // the first is the folder, in a fresh working folder; "--out out" is added
        std::vector<std::pair<std::string, std::string>> files;  // in the folder: path, built module copied ("" for a text)
        int exitCode;
        std::vector<std::string> messages;  // each in lm-pack's output; '|' separates alternatives
    };
    const std::string gamma = "64bit/gamma_6_5_0_0.so", beta = "64bit/beta_6_3_1_0.so", crash = "64bit/crashload_";
    const std::vector<Case> cases = {
        {{"noexport"}, {{"64bit/noexport_6_3_1_0.so", "noexport"}}, 1, {"noexport_6_3_1_0.so: does not export LiveModuleUnload"}},
        {{"alpha-1.0", "--id", "alpha"}, {{"64bit/alpha_6_3_1_0.so", "alpha"}}, 1,
         {"wrong top folder name: the folder is named 'alpha-1.0' but the module id is 'alpha'"}},
        {{"highfactory"}, {{"64bit/highfactory_6_3_1_0.so", "highfactory"}}, 1,
         {"needs a newer factory: GetFactoryApiVersion reports 202211111"}},
        {{"nullinst"}, {{"64bit/nullinst_6_3_1_0.so", "nullinst"}}, 1, {"LiveModuleLoad returned no module"}},
        {{"orphan"}, {}, 1, {"no 64bit folder"}},
        {{"LiveModuleFactory"}, {}, 1, {"LiveModuleFactory is the factory's own package"}},
        {{"."}, {}, 1, {"wrong top folder name: '.' is no usable module name"}},
        {{"alpha/.."}, {}, 1, {"wrong top folder name: '..' is no usable module name"}},
        {{"a\\b"}, {}, 1, {"wrong top folder name: 'a\\b' is no usable module name"}},
        {{"alpha", "--id", "x/alpha"}, {}, 1, {"the id 'x/alpha' is no usable module name"}},
        {{"alpha", "--id", ""}, {}, 1, {"the id '' is no usable module name"}},
        {{"gamma", "--tags", "6_3_1_0,6_4_1_0"}, {{beta, "beta"}, {gamma, "gamma"}}, 1,
         {"no library for any tag: expected at least one of 64bit/gamma_6_3_1_0.so, 64bit/gamma_6_4_1_0.so",
          beta + " is named for another module id ('beta')", gamma + " is for tag 6_5_0_0, which is not among the tags checked"}},
        // With that tag asked for the package is good; a tag without a build is only noted.
        {{"gamma", "--tags", "6_5_0_0,6_3_1_0"}, {{beta, "beta"}, {gamma, "gamma"}}, 0, {"note: no build for tag 6_3_1_0"}},
        {{"web_panel"}, {{"web_panel.webdll", ""}, {"index.html", ""}}, 0, {"web_panel is a web plug-in package"}},
        // Where a package loads: a tag of the 6_3_1_0/6_4_1_0 group serves its partner's hosts too.
        {{"beta", "--tags", "6_4_1_0,5_15_8_0"}, {{"64bit/beta_6_4_1_0.so", "beta"}}, 0,
         {"beta loads in hosts on Qt 6.4.1, 6.3.1; no others"}},
        {{"gamma", "--tags", "6_5_0_0"}, {{gamma, "gamma"}}, 0, {"gamma loads in hosts on Qt 6.5.0; no others"}},
        // A library the loader can never unload is packed, with a warning in plain words.
        {{"unique"}, {{"64bit/unique_6_3_1_0.so", "unique"}}, 0,
         {"note: 64bit/unique_6_3_1_0.so carries ", "GNU-unique symbols (such as _ZZ",
          "the host can never unload it, so a new release of this module only runs after the host restarts"}},
        // Every problem of every library is reported, whichever crashes; a sanitizer ends the process itself.
        {{"Crash", "--id", "crashload", "--tags", "6_3_1_0,6_4_1_0,6_5_0_0"},
         {{crash + "6_3_1_0.so", "crashload"}, {crash + "6_4_1_0.so", "lowapi"}, {crash + "6_5_0_0.so", ""}}, 1,
         {"refused, nothing written (5 problems)", "wrong top folder name: the folder is named 'Crash'",
          "crashload_6_3_1_0.so: crashed in LiveModuleLoad: killed by signal 11|ended the process in LiveModuleLoad",
          "crashload_6_4_1_0.so: id differs from the folder: the module reports 'lowapi' but the package is 'crashload'",
          "crashload_6_4_1_0.so: built against a too-old API: GetApiVersion reports 202211109",
          "crashload_6_5_0_0.so: cannot be loaded: "}},
    };
    for (const Case& c : cases) {
        TempDir temp;
        const std::string folder = c.arguments.front(), package = temp.path() + "/" + folder;
        fs::create_directories(package);
        for (const auto& [file, built] : c.files) {
            WriteFile(package + "/" + file, built.empty() ? "not a library" : ReadFile(BuiltModule(built)));
        }
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--out", "out"});
        const ToolRun run = Pack(arguments, temp.path());
        const std::string said = run.out + run.err;
        EXPECT_EQ(run.exitCode, c.exitCode) << folder << ":\n" << said;
        for (const std::string& message : c.messages) EXPECT_TRUE(Holds(said, message)) << message << "\nnot in:\n" << said;
        if (c.exitCode == 0) {
            EXPECT_EQ(ZipNames(temp.path() + "/out/" + folder + ".zip"), Tree(package, folder));
        } else {
            EXPECT_TRUE(Holds(run.err, "refused, nothing written")) << run.err;
            EXPECT_FALSE(Exists(temp.path() + "/out")) << folder;
        }
    }
}

TEST(PackManifest, CreatedThenUpdatedInPlaceKeepingOtherEntries) {
    TempDir temp;
    const std::string manifest = temp.path() + "/catalogue/manifest.json", out = temp.path() + "/catalogue/packages";
    const auto pack = [&](std::vector<std::string> more) {
        more.insert(more.begin(), {LMTEST_PACKAGES_DIR "/hello_service", "--out", out, "--manifest", manifest});
        return Pack(more);
    };
    // A file that is no catalogue answer stops everything and stays as it was.
    for (const char* text : {"", "[1, 2]", R"({"error": 0, "data": {}})", "{\"error\": 0, \"data\": [] trailing"}) {
        WriteFile(manifest, text);
        const ToolRun run = pack({"--version", "1"});
        EXPECT_EQ(run.exitCode, 1) << text;
        EXPECT_TRUE(Holds(run.err, "is no catalogue answer")) << run.err;
        EXPECT_EQ(ReadFile(manifest), text);
        EXPECT_FALSE(Exists(out));
    }
    fs::remove(manifest);

    const ToolRun first = pack({"--version", "1"});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    auto created = nlohmann::ordered_json::parse(ReadFile(manifest));
    const auto entry = [](const std::string& name, const char* version, const std::string& ext = "{}") {
        return nlohmann::ordered_json{{"name", name}, {"orgname", name + ".zip"}, {"resver", version},
                                      {"pfile", "{base}packages/" + name + ".zip"}, {"disabled", 0}, {"preinstall", 1},
                                      {"order", "0"}, {"require_client_version", "0"}, {"identify", 0}, {"ext", ext}};
    };
    // The entry vouches for the zip's bytes: the host's own check accepts the zip with it.
    const std::string zip = out + "/hello_service.zip";
    const std::string ext = created["data"][1]["ext"];
    LiveModule::PackageCheck check;
    LiveModule::ReadPackageCheck(*LiveModule::ReadJson(ext), check);
    EXPECT_TRUE(check.sha256.size() == 64 && check.size == static_cast<int64_t>(fs::file_size(zip)) &&
                LiveModule::VerifyPackage(zip, check, "")) << ext;
    EXPECT_EQ(created, (nlohmann::ordered_json{{"error", 0},
                                               {"data", {entry("LiveModuleFactory", "0"), entry("hello_service", "1", ext)}}}));

    // Hand edits: another module at the end, and settings of this one that no option covers.
    created["data"][1].update({{"ext", R"({"hot_update_enable":1})"}, {"name", "Hello service"}});
    created["data"].push_back(entry("downloader", "7"));
    WriteFile(manifest, created.dump(1));
    const ToolRun second =
        pack({"--version", "2", "--order", "-3", "--required", "1", "--appver", "30.0.0", "--base", "http://127.0.0.1:18601/"});
    ASSERT_EQ(second.exitCode, 0) << second.err;
    EXPECT_TRUE(Holds(second.out, "updated hello_service.zip version 2")) << second.out;
    auto ext2 = nlohmann::ordered_json::parse(ext);
    ext2 = nlohmann::ordered_json{{"hot_update_enable", 1}, {"sha256", ext2["sha256"]}, {"size", ext2["size"]}};
    created["data"][1].update({{"resver", "2"}, {"pfile", "http://127.0.0.1:18601/packages/hello_service.zip"}, {"order", "-3"},
                               {"require_client_version", "1"}, {"appver", "30.0.0"}, {"ext", ext2.dump()}});
    EXPECT_EQ(nlohmann::ordered_json::parse(ReadFile(manifest)), created);
    EXPECT_EQ(Tree(temp.path() + "/catalogue", "c"),
              (std::set<std::string>{"c/", "c/manifest.json", "c/packages/", "c/packages/hello_service.zip"}));
}

TEST(PackSigning, KeysAreMadeOnceAndSignaturesVerifyOnlyWithTheirKey) {
    TempDir temp;
    const std::string prefix = temp.path() + "/deploy", manifest = temp.path() + "/m.json", out = temp.path() + "/p";
    ASSERT_EQ(Pack({"--make-key", prefix}).exitCode, 0);
    EXPECT_EQ(fs::status(prefix + ".key").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    const std::string publicKey = ReadFile(prefix + ".pub");
    EXPECT_EQ(Pack({"--make-key", prefix}).exitCode, 1) << "an existing key is never replaced";
    EXPECT_EQ(ReadFile(prefix + ".pub"), publicKey);

    TempDir other;
    ASSERT_EQ(Pack({"--make-key", other.path() + "/other"}).exitCode, 0);
    struct Case {
        const char* what;
        std::vector<std::string> flags;
        bool verifiesWithDeployKey;
    };
    for (const Case& c : std::vector<Case>{{"signed with the key", {"--sign-key", prefix + ".key"}, true},
                                            {"signed with another key", {"--sign-key", other.path() + "/other.key"}, false},
                                            {"not signed", {}, false}}) {
        std::vector<std::string> arguments{LMTEST_PACKAGES_DIR "/hello_service", "--out", out, "--manifest", manifest,
                                           "--version", "3"};
        arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
        const ToolRun run = Pack(arguments);
        ASSERT_EQ(run.exitCode, 0) << c.what << run.err;
        LiveModule::PackageCheck check;
        LiveModule::ReadPackageCheck(
            *LiveModule::ReadJson(nlohmann::json::parse(ReadFile(manifest))["data"][1]["ext"].get<std::string>()), check);
        EXPECT_EQ(check.signature.empty(), c.flags.empty()) << c.what << ": a signature only when signing";
        EXPECT_EQ(LiveModule::VerifyPackage(out + "/hello_service.zip", check, PemBody(publicKey)), c.verifiesWithDeployKey)
            << c.what;
        EXPECT_TRUE(LiveModule::VerifyPackage(out + "/hello_service.zip", check, "")) << c.what << ": digest and size";
    }
    const ToolRun wrongKey = Pack({LMTEST_PACKAGES_DIR "/hello_service", "--out", out, "--sign-key", prefix + ".pub"});
    EXPECT_EQ(wrongKey.exitCode, 1);
    EXPECT_TRUE(Holds(wrongKey.err, "cannot read an Ed25519 private key")) << wrongKey.err;
    EXPECT_FALSE(Exists(out + "/hello_service.zip")) << "an unsigned zip is not left where a signed one was asked for";
}

TEST(PackUsage, WrongCommandLinesExitWithUsage) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"a", "b"}, {"a", "--out"}, {"a", "--frobnicate", "1"}, {"a", "--tags", "6_3_1_0,,6_4_1_0"},
             {"a", "--tags", "6_3_1_0,6_3_1_0"}, {"a", "--version", "1"}, {"a", "--manifest", "m.json"},
             {"a", "--manifest", "m.json", "--version", "1.5"},
             {"a", "--manifest", "m.json", "--version", "1", "--base", "http://x"}, {"a", "--make-key", "k"},
             {"a", "--sign-key"},
             // A static tree needs absolute package URLs and a version, and holds its own manifest.
             {"a", "--tree", "t", "--version", "1"}, {"a", "--tree", "t", "--base", "http://x/"},
             {"a", "--tree", "t", "--base", "http://x/", "--version", "1", "--manifest", "m.json"}}) {
        const ToolRun run = Pack(arguments);
        EXPECT_EQ(run.exitCode, 64) << (arguments.empty() ? "" : arguments.back());
        EXPECT_TRUE(Holds(run.err, "usage: lm-pack FOLDER")) << run.err;
    }
}
