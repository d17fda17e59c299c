#include "UpdaterTestKit.h"  // first: on Windows its server library includes winsock2.h before windows.h

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <thread>

#include "updater/Catalogue.h"
#include "updater/CompactJson.h"
#include "updater/ModuleInfoFile.h"
#include "updater/ZipExtractor.h"

using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
using lmtest::Listing;
using lmtest::Record;
using lmtest::Tree;
using lmtest::UpdaterTree;
using lmtest::ZipEntry;
namespace fs = std::filesystem;

namespace {
std::wstring W(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

// A process that is ended from outside, as SIGKILL ends one: on Linux a fork of this one running
// `body`; on Windows (no fork) this program again, running only the test `test` with the variable
// `name` set to `value` (the test's body does the child's work when it finds it), its output thrown away.
class KilledChild {
public:
#ifdef _WIN32
    KilledChild(const std::string& test, const std::string& name, const std::string& value) {
        char program[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
        std::string command = "\"" + std::string(program, length) + "\" --gtest_filter=" + test;
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        const HANDLE nul = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       OPEN_EXISTING, 0, nullptr);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup, startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
        PROCESS_INFORMATION info{};
        SetEnvironmentVariableA(name.c_str(), value.c_str());  // inherited by the child only
        const BOOL started = CreateProcessA(program, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                            nullptr, &startup, &info);
        SetEnvironmentVariableA(name.c_str(), nullptr);
        CloseHandle(nul);
        EXPECT_TRUE(started) << command;
        if (started) CloseHandle(info.hThread), process = info.hProcess;
    }
    ~KilledChild() { Kill(); }
    // Ends it now; its exit code, 137 when it was still running.
    int Kill() {
        if (!process) return -1;
        TerminateProcess(process, 137);
        WaitForSingleObject(process, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        CloseHandle(process), process = nullptr;
        return static_cast<int>(code);
    }

private:
    HANDLE process = nullptr;
#else
    template <typename Body>
    explicit KilledChild(Body body) : child(fork()) {
        EXPECT_GE(child, 0);
        if (child == 0) body(), _exit(0);
    }
    ~KilledChild() { Kill(); }
    int Kill() {
        if (child <= 0) return -1;
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        child = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? 137 : WEXITSTATUS(status);
    }

private:
    pid_t child;
#endif
};

}  // namespace

TEST(ModuleInfoFile, WritesTheRecordLineAsJson11DoesAndReadsItBackByteForByte) {
    ModuleRecord example = Record("example", 12), factory;
    for (char c = 0; c < 0x20; ++c) example.moduleName += c;
    example.moduleName += "\"\\/\x7f\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa\xc3\xa9";  // U+2028, U+2029, U+202A, U+00E9
    const std::string text = SerializeModuleInfo(Record(kFactoryModuleName, 7), {example});
    EXPECT_EQ(text, "{\"modules\": [{\"moduleName\": \"LiveModuleFactory\", \"name\": \"LiveModuleFactory\", "
                    "\"version\": 7}, {\"disabled\": false, \"moduleName\": \"Shown example\\u0000\\u0001\\u0002"
                    "\\u0003\\u0004\\u0005\\u0006\\u0007\\b\\t\\n\\u000b\\f\\r\\u000e\\u000f\\u0010\\u0011\\u0012"
                    "\\u0013\\u0014\\u0015\\u0016\\u0017\\u0018\\u0019\\u001a\\u001b\\u001c\\u001d\\u001e\\u001f"
                    "\\\"\\\\/\x7f\\u2028\\u2029\xe2\x80\xaa\xc3\xa9\", \"name\": \"example\", \"version\": 12}]}");
    std::list<ModuleRecord> read;
    ASSERT_TRUE(ParseModuleInfo(text, factory, read));
    EXPECT_EQ(SerializeModuleInfo(factory, read), text) << "every byte comes back";

    // Names need not be UTF-8 (a GBK display name, a Latin-1 folder): whatever is written reads back.
    ModuleRecord anyBytes = Record("Zo\xeb", 3);
    for (int byte = 0x20; byte <= 0xff; ++byte) anyBytes.moduleName += static_cast<char>(byte);
    anyBytes.moduleName += "\xc4\xa3\xbf\xe9\xed\xa0\x80\xf4\x90\x80\x80";  // GBK, a lone surrogate, beyond U+10FFFF
    const std::string unusual = SerializeModuleInfo(factory, {anyBytes, example});
    read.clear();
    ASSERT_TRUE(ParseModuleInfo(unusual, factory, read));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read.front().name + "|" + read.front().moduleName, anyBytes.name + "|" + anyBytes.moduleName);
    EXPECT_EQ(SerializeModuleInfo(factory, read), unusual);
}

TEST_F(UpdaterTree, LoadsTheRecordAndDeletesOnlyTheFoldersOfUnrecordedModules) {
    // Lines are joined, even inside a text; numbers truncate toward zero and saturate; "disabled" is a boolean.
    lmtest::WriteFile(info, R"({"modules": [{"name": "off", "disabled": true, "version": 2}, {"name": "o)" "\r\n"
                            R"(n", "moduleName": "On", "version": 3},
        {"name": "LiveModuleFactory", "version": 4294967295}, {"name": "on", "version": 9}, {"name": "", "disabled": 1},
        7, {"name": "f", "version": 12.9}, {"name": "g", "version": -1e300}, {"name": "h", "version": "5"}]})");
    for (const char* name : {"off", "on", "gone", "a"}) lmtest::WriteFile(modules + name + "/f", "x");
    Peer::Open(updater, modules);
    EXPECT_EQ(Listing(Peer::Local(updater)) + std::to_string(Peer::FactoryVersion(updater)),
              "off:2! on:3 on:9 :0 :0 f:12 g:-2147483648 h:0 2147483647");
    ModuleRecord asked = Record("on", 0);
    EXPECT_TRUE(updater.GetModuleRecord(asked) && updater.IsModuleEnabled(asked) && asked.moduleName == "On");
    for (const char* name : {"off", "gone", "..", "a/.."})
        EXPECT_FALSE(updater.IsModuleEnabled(asked = Record(name, 0))) << name;
    updater.RemoveModule("a/.."), updater.RemoveModule("..");  // such names only lose their records
    EXPECT_TRUE(Exists(modules + "off/f") && Exists(modules + "a/f")) << "a disabled module keeps its folder";
    EXPECT_FALSE(Exists(modules + "gone")) << "an unrecorded module's folder is deleted";
}

TEST_F(UpdaterTree, ACorruptRecordIsDeletedAndAnUnreadableOneLeftAlone) {
    for (const char* text : {"", "not json", "{", "[1, 2]", "\"text\"", "{} x", "{\"a\": 1,}", "{\"modules\": [1}"}) {
        lmtest::WriteFile(info, text);
        EXPECT_EQ(Listing(Peer::Local(*Restart())), "");
        EXPECT_FALSE(Exists(info)) << text;
    }
    fs::create_directory(info);
    EXPECT_EQ(Listing(Peer::Local(*Restart())), "");
    EXPECT_TRUE(fs::is_directory(info));
}

TEST_F(UpdaterTree, TheRecordIsWholeWhateverMomentItsWriterDies) {
    auto record = [](int v) { ModuleRecord r = Record("m", v); r.moduleName.assign(300000, "ba"[v % 2]); return r; };
    // The writer, killed in the middle of a save: it tells it has begun in the marker file.
    const auto write = [&](LiveModuleUpdater& writer, const std::string& marker) {
        Peer::Upsert(writer, record(2));
        lmtest::WriteFile(marker, "writing");
        for (int i = 3;; ++i) Peer::Upsert(writer, record(i));
    };
#ifdef _WIN32
    if (const char* folder = std::getenv("LMTEST_RECORD_WRITER")) {  // the child of a round below
        LiveModuleUpdater writer(nullptr, UpdaterCallbacks(), "30.0.0");
        Peer::Open(writer, folder);
        write(writer, std::string(folder) + "../writer-started");
    }
#endif
    lmtest::WriteFile(info + ".tmp-1-0", "{\"modules\": [");  // left by a writer that died
    Peer::Upsert(updater, record(1));
    const std::string marker = root + "writer-started";
    for (int round = 0; round < 20; ++round) {
        std::filesystem::remove(marker);
#ifdef _WIN32
        KilledChild child("UpdaterTree.TheRecordIsWholeWhateverMomentItsWriterDies", "LMTEST_RECORD_WRITER", modules);
#else
        KilledChild child([&] { write(updater, marker); });
#endif
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!Exists(marker) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(Exists(marker)) << "round " << round << ": the writer never began";
        std::this_thread::sleep_for(std::chrono::microseconds(1000 + 1500 * round));
        ASSERT_EQ(child.Kill(), 137) << "the writer never stops by itself";
        const auto next = Restart();  // a record that is no JSON would be deleted and read as empty
        ASSERT_EQ(Peer::Local(*next).size(), 1u) << "round " << round;
        const ModuleRecord& read = Peer::Local(*next).front();
        EXPECT_EQ(read.moduleName, record(read.version).moduleName) << round;
    }
}

TEST_F(UpdaterTree, InstallsPackagesAndCleansUpOnEveryPath) {
    for (const char* name : {"alpha", "web", "beta", "gamma"}) Peer::Upsert(updater, Record(name, 5));
    lmtest::WriteZip(staging + "alpha.zip", {{"alpha/64bit/alpha_6_3_1_0.so", "lib"}, {"alpha/readme.txt"}});
    lmtest::WriteFile(modules + "alpha/old.txt", "old");
    EXPECT_TRUE(updater.InstallModule("alpha"));
    EXPECT_TRUE(Exists(modules + "alpha/64bit/alpha_6_3_1_0.so") && !Exists(modules + "alpha/old.txt"));
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
    lmtest::WriteZip(modules + "alpha.zip", {{"alpha/64bit/alpha_6_3_1_0.so", "escaped"}});  // "Temp/../alpha.zip"
    EXPECT_FALSE(updater.InstallModule("delta") || updater.InstallModule("../alpha"));
    EXPECT_EQ(log.Text(), before) << "a missing package is no event";

    EXPECT_TRUE(fs::is_empty(staging)) << "packages and their folders go; nothing lands beside a package's folder";
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Skip package entry outside its folder {path: " + staging +
                                     "beta.zip, entry: other/x.txt}"), 1);
    EXPECT_EQ(Listing(Peer::Local(*Restart())), "alpha:5 web:5 beta:0 gamma:0 ") << "failed installs reset versions";
}

TEST_F(UpdaterTree, StartUpCleansStagingDropsADamagedFactoryPackageAndReadsTheInterval) {
    for (const char* file : {"a.zip", "a.zip.download", "a/x", "b.part"}) lmtest::WriteFile(staging + file, "z");
    lmtest::WriteZip(staging + "LiveModuleFactory.zip", {{"LiveModuleFactory/a", "a", 0, lmtest::Damage::BadCrc}});
    EXPECT_EQ(Peer::IntervalMs(*Restart()), 1800000u) << "no global.ini";
    EXPECT_EQ(Tree(staging), (std::set<std::string>{"a.zip"})) << "no factory hand-over";
    // global.ini is beside the modules folder; the period's milliseconds must fit 32 bits.
    for (const auto& [value, expected] : std::vector<std::pair<std::string, uint32_t>>{
             {"0", 1800000}, {"-5", 1800000}, {"1", 60000}, {"71582", 4294920000}, {"99999999999", 4294920000}}) {
        lmtest::WriteFile(root + "global.ini", "[General]\nUpdateIntervalInMin=" + value);
        EXPECT_EQ(Peer::IntervalMs(*Restart()), expected) << value;
    }
}

TEST_F(UpdaterTree, ReinstallsQueuesAndMovesModules) {
    for (const char* name : {"a", "b", "../escape"}) Peer::Upsert(updater, Record(name, 1));  // as hand-edited
    for (const char* name : {"a", "../escape", "unknown"}) updater.ReinstallModule(name);
    EXPECT_EQ(Listing(Peer::Local(updater)) + "| " + Listing(Peer::Pending(updater)), "b:1 | ");
    const std::string failed = "[LiveModuleUpdater] Download module failed {error: ";
    EXPECT_EQ(log.Count("error", failed + "-1001, module: a, url: http://packages.invalid/a.zip}"), 1)
        << "without a service the download is refused and dropped";
    EXPECT_EQ(log.Count("error", failed + "-1, module: ../escape, url: http://packages.invalid/../escape.zip}"), 1)
        << "a name that is not one folder level is never downloaded";
    for (const ModuleRecord& queued : {Record("a", 3), Record("b", 1), Record("a", 9)}) Peer::Queue(updater, queued);
    EXPECT_EQ(Listing(Peer::Pending(updater)), "a:9 b:1 ") << "a queued name is replaced in its place";

    lmtest::WriteFile(modules + "w/w.webdll", "w");
    updater.MoveToWebPlugins(modules + "w", ".."), updater.MoveToWebPlugins(modules + "w", "w");
    EXPECT_EQ(Tree(modules),
              (std::set<std::string>{"ModuleInfo", "Temp/", "WebPlugins/", "WebPlugins/w/", "WebPlugins/w/w.webdll"}));
}

TEST(Unzip, NoHostileArchiveWritesOutsideTheDestination) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/out/dest", zip = temp.path() + "/z.zip";
    // Drive designators, leading separators and parent patterns are stripped as on Windows. A folder
    // named "..." is one on Linux only: Windows names hold no trailing dots, and Wine fails the entry.
    std::vector<ZipEntry> mapped = {{"..\\..\\evil.dll"}, {"C:\\x\\y.txt"}, {"/abs/z.txt"}, {"a/../b.txt"},
                                    {"x:/y:\\\\z"}, {"\\\\server\\share\\f"}, {"a\\../b/..\\c"}};
    std::vector<ZipEntry> hostiles = {ZipEntry("../x"), ZipEntry("..\\x"), ZipEntry("a/../../b"), ZipEntry("x/.."),
                                      ZipEntry("a/../..\\b"), lmtest::UnixEntry("link", "/etc", 0120777),
                                      lmtest::UnixEntry("ok/../../link2", "..", 0120777)};
    std::set<std::string> expected = {"evil.dll", "x/", "x/y.txt", "abs/", "abs/z.txt", "b.txt", "z", "c",
                                      "server/", "server/share/", "server/share/f", "first.txt"};
#ifndef _WIN32
    mapped.push_back({"d//./...\\e"});
    expected.insert({"d/", "d/.../", "d/.../e"});
#endif
    lmtest::WriteZip(zip, mapped);
    ASSERT_TRUE(Unzip(W(zip), W(dest), ""));
    // What still leaves after that, and links, fail the extraction; "/../" is stripped before "/..\".
    for (const ZipEntry& hostile : hostiles) {
        lmtest::WriteZip(zip, {{"first.txt"}, hostile, {"after.txt"}});
        EXPECT_FALSE(Unzip(W(zip), W(dest), "")) << hostile.name;
    }
    EXPECT_EQ(Tree(temp.path()).size(), Tree(dest).size() + 3) << "nothing but z.zip, out/ and out/dest/ outside";
    EXPECT_EQ(Tree(dest), expected);
}

TEST(Unzip, ExtractsNestedFoldersAndModesAndReplacesOnASecondRun) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/p/q", zip = temp.path() + "/pkg.zip";  // neither level exists yet
    const std::string big(40000, 'z');
    lmtest::WriteZip(zip, {{"pkg/", "", 0x10}, lmtest::UnixEntry("pkg/64bit/lib.so", big, 0100755),
                           {"pkg/readme.txt", "ro", 0x01}, lmtest::UnixEntry("pkg/ro.txt", "ro", 0100464),
                           {"pkg/conf/x.ini", "x"}, lmtest::UnixEntry("pkg/empty", "", 040700)});
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(Unzip(W(zip), W(dest + "/"), "")) << run;
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/64bit/lib.so"), big);
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/conf/x.ini"), "x");
        // Unix modes are kept, less every write bit when the owner's is clear; DOS read-only clears them too.
        // Windows keeps only the read-only attribute, for a clear owner's write bit or the DOS one.
#ifdef _WIN32
        const std::tuple<const char*, unsigned, unsigned> modes[] = {
            {"64bit/lib.so", 0222, 0222}, {"ro.txt", 0222, 0}, {"readme.txt", 0222, 0}, {"conf/x.ini", 0200, 0200}};
#else
        const std::tuple<const char*, unsigned, unsigned> modes[] = {
            {"64bit/lib.so", 0777, 0755}, {"ro.txt", 0777, 0444}, {"readme.txt", 0222, 0}, {"conf/x.ini", 0200, 0200}};
#endif
        for (const auto& [path, mask, mode] : modes)
            EXPECT_EQ(static_cast<unsigned>(fs::status(dest + "/pkg/" + path).permissions()) & mask, mode) << path;
        EXPECT_TRUE(fs::is_directory(dest + "/pkg/empty")) << "a folder by its Unix mode alone";
        lmtest::WriteFile(dest + "/pkg/conf/x.ini", "changed");
        fs::remove(dest + "/pkg/64bit/lib.so");
        std::error_code noLinks;  // Wine makes no symbolic links: then the file is simply missing
        fs::create_symlink(temp.path() + "/elsewhere", dest + "/pkg/64bit/lib.so", noLinks);
#ifndef _WIN32
        EXPECT_FALSE(noLinks) << noLinks.message();
#endif
    }
    EXPECT_FALSE(Exists(temp.path() + "/elsewhere")) << "a link in the way is replaced, not followed";
}

TEST(Unzip, AnEntryWhoseDataDisagreesWithItsHeadersOrBadArgumentsFailAndLeaveNoFile) {
    lmtest::TempDir temp;
    std::string library;
    for (int i = 0; i < 20000; ++i) library += std::to_string(i * 7919 % 10007);  // compressible, not uniform
    for (const lmtest::Damage damage : {lmtest::Damage::None, lmtest::Damage::BadCrc, lmtest::Damage::EndsEarly,
                                        lmtest::Damage::SizeTooLarge, lmtest::Damage::SizeTooSmall}) {
        const std::string zip = temp.path() + "/m.zip", out = temp.path() + "/out" + std::to_string(int(damage));
        lmtest::WriteZip(zip, {{"m/first.txt"}, {"m/64bit/m.so", library, 0, damage}, {"m/after.txt"}});
        const bool intact = damage == lmtest::Damage::None;
        EXPECT_EQ(UnzipPackage(zip, out), intact) << int(damage);
        const std::set<std::string> whole = {"m/", "m/64bit/", "m/64bit/m.so", "m/first.txt", "m/after.txt"};
        const std::set<std::string> cut = {"m/", "m/64bit/", "m/first.txt"};
        EXPECT_EQ(Tree(out), intact ? whole : cut) << int(damage);
        EXPECT_EQ(intact ? lmtest::ReadFile(out + "/m/64bit/m.so") : library, library);
    }
    const std::string t = temp.path(), zip = t + "/m.zip";
    EXPECT_FALSE(Unzip(W(t + "/none.zip"), W(t + "/m1"), "") || Unzip(W(zip), L"", "") || Unzip(L"", W(t + "/m2"), ""));
    EXPECT_FALSE(Exists(t + "/m1") || Exists(t + "/m2")) << "bad arguments make nothing";
}

TEST(Unzip, APackageFillsOnlyItsOwnFolderUnderAnyRootName) {
    lmtest::LogCapture log;
    lmtest::TempDir temp;
    // UTF-8 names of two scripts, and a Latin-1 byte that is no UTF-8 at all: paths are taken as they are.
    for (const std::string folder : {"\xe7\x94\xa8\xe6\x88\xb7", "Zo\xc3\xab", "Zo\xeb", "plain"}) {
        const std::string staging = temp.path() + "/" + folder + "/modules/Temp/";
        fs::create_directories(lmtest::PathOf(staging));
        lmtest::WriteZip(staging + "m.zip", {{"m/"}, {"m/a.txt"}, {"LiveModuleFactory.zip", "PK"},
                                             {"LiveModuleFactory/64bit/LiveModuleFactory.so"}, {"x/../beside.txt"},
                                             {"C:\\other\\f"}, {"/m/abs.txt"}, {"m", "a file named as the folder"},
                                             {"m/64bit/m_6_3_1_0.so", "lib"}});
        ASSERT_TRUE(UnzipPackage(staging + "m.zip", staging)) << folder;
        EXPECT_EQ(Tree(staging), (std::set<std::string>{"m.zip", "m/", "m/a.txt", "m/abs.txt", "m/64bit/",
                                                        "m/64bit/m_6_3_1_0.so"}))
            << folder;
        for (const char* entry : {"LiveModuleFactory.zip", "LiveModuleFactory/64bit/LiveModuleFactory.so",
                                  "x/../beside.txt", "C:\\other\\f", "m"})
            EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Skip package entry outside its folder {path: " + staging +
                                             "m.zip, entry: " + entry + "}"), 1)
                << folder << " " << entry;
    }
}

TEST_F(UpdaterTree, TheTreesOwnNamesAreNeverAModulesFolder) {
    const std::vector<std::string> reserved = {"Temp", "WebPlugins", "MainProgramDeps", "ModuleInfo", kFactoryModuleName};
    lmtest::WriteFile(modules + "WebPlugins/w/w.webdll", "w");
    lmtest::WriteFile(modules + "MainProgramDeps/64bit/6_3_1_0/dep.so", "d");
    lmtest::WriteFile(modules + "LiveModuleFactory/64bit/LiveModuleFactory.so", "f");
    lmtest::WriteFile(modules + "WebPlugins/WebPlugins.webdll", "marks the folder as a web plug-in");
    for (const std::string& name : reserved) Peer::Upsert(updater, Record(name, 1));
    for (const std::string& name : reserved) lmtest::WriteZip(staging + name + ".zip", {{name + "/" + name + ".webdll"}});
    const auto before = Tree(root);
    for (const std::string& name : reserved) {
        ModuleRecord unknown = Record(name, 0);
        EXPECT_FALSE(updater.InstallModule(name)) << name;
        updater.MoveToWebPlugins(modules + "WebPlugins", name);
        Peer::ForgetLocal(updater);  // unrecorded: IsModuleEnabled would delete an ordinary module's folder
        EXPECT_FALSE(updater.IsModuleEnabled(unknown)) << name;
        updater.RemoveModule(name);
    }
    auto after = Tree(root);
    after.insert("modules/ModuleInfo");
    EXPECT_EQ(after, before) << "every folder, plug-in and package stays";

    // The catalogue drops such entries like other unusable names; the factory's own entry stays.
    std::list<ModuleRecord> parsed;
    std::string entries;
    for (const std::string& name : reserved) entries += R"({"name": "N", "orgname": ")" + name + R"(.zip"}, )";
    ASSERT_TRUE(ParseCatalogue(R"({"error": 0, "data": [)" + entries + R"({"name": "N", "orgname": "ok.zip"}]})", parsed));
    EXPECT_EQ(Listing(parsed), "LiveModuleFactory:0 ok:0 ");
}
