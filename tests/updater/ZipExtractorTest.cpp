#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "TestArchives.h"
#include "TestSupport.h"
#include "updater/ZipEntryName.h"
#include "updater/ZipExtractor.h"

using namespace LiveModule;
using lmtest::Tree;
using lmtest::ZipEntry;

namespace {
std::wstring W(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

struct stat Stat(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
    return info;
}
}  // namespace

TEST(ZipEntryName, MapsLikeTheWindowsExtractorAndCatchesWhatStillLeaves) {
    const std::pair<const char*, const char*> cases[] = {
        {"..\\..\\evil.dll", "evil.dll"}, {"C:\\x\\y.txt", "x\\y.txt"}, {"/abs/z.txt", "abs/z.txt"},
        {"a/../b.txt", "b.txt"},          {"x:/y:\\\\z", "z"},          {"\\\\server\\share\\f", "server\\share\\f"},
        {"a\\../b/..\\c", "c"},           {"../x", "../x"},             {"..\\x", "..\\x"},
        {"a/../..\\b", "..\\b"},  // "/../" is tried before "/..\", which would have reached b
        {"plain/name", "plain/name"},     {"", ""}};
    for (const auto& [stored, mapped] : cases) EXPECT_EQ(MapEntryName(W(stored)), W(mapped)) << stored;

    std::vector<std::wstring> levels;
    EXPECT_TRUE(SplitEntryLevels(L"a//./b\\...\\c/", levels));
    EXPECT_EQ(levels, (std::vector<std::wstring>{L"a", L"b", L"...", L"c"}));
    for (const char* leaving : {"../x", "..\\x", "a/..", "a/b\\..", "..\\b"}) {
        EXPECT_FALSE(SplitEntryLevels(W(leaving), levels)) << leaving;
    }
}

TEST(Unzip, NoHostileArchiveWritesOutsideTheDestination) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/out/dest";
    const std::string zip = temp.path() + "/mapped.zip";
    lmtest::WriteZip(zip, {{"..\\..\\evil.dll"}, {"C:\\x\\y.txt"}, {"/abs/z.txt"}, {"a/../b.txt"}});
    ASSERT_TRUE(Unzip(W(zip), W(dest), ""));

    for (const ZipEntry& hostile : {ZipEntry("../x"), ZipEntry("..\\x"), ZipEntry("a/../../b"), ZipEntry("x/.."),
                                    ZipEntry("a/../..\\b"), lmtest::UnixEntry("link", "/etc", 0120777),
                                    lmtest::UnixEntry("ok/../../link2", "..", 0120777)}) {
        lmtest::WriteZip(zip, {{"first.txt"}, hostile, {"after.txt"}});
        EXPECT_FALSE(Unzip(W(zip), W(dest), "")) << hostile.name;
    }
    std::filesystem::remove(zip);
    EXPECT_EQ(Tree(temp.path()), (std::set<std::string>{"out/", "out/dest/", "out/dest/evil.dll", "out/dest/x/",
                                                        "out/dest/x/y.txt", "out/dest/abs/", "out/dest/abs/z.txt",
                                                        "out/dest/b.txt", "out/dest/first.txt"}));
}

TEST(Unzip, ExtractsFoldersDataAttributesAndTimesAndReplacesOnASecondRun) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/p/q";  // neither level exists yet
    const std::string big(40000, 'z');
    ZipEntry stamped("pkg/ut.txt");
    stamped.localExtra = lmtest::TimestampExtra(7, {1600000000, 1500000000, 1400000000});
    stamped.centralExtra = lmtest::TimestampExtra(7, {1600000000});  // announces three, carries one
    const std::string zip = temp.path() + "/pkg.zip";
    lmtest::WriteZip(zip, {{"pkg/", "", 0x10}, lmtest::UnixEntry("pkg/64bit/lib.so", big, 0100755),
                           {"pkg/readme.txt", "ro", 0x01}, lmtest::UnixEntry("pkg/ro.txt", "ro", 0100464),
                           {"pkg/conf/deep/x.ini", "x"}, stamped, lmtest::UnixEntry("pkg/empty", "", 040700)});
    std::tm dosTime{};
    dosTime.tm_year = 121, dosTime.tm_mon = 5, dosTime.tm_mday = 15, dosTime.tm_isdst = -1;
    dosTime.tm_hour = 12, dosTime.tm_min = 34, dosTime.tm_sec = 56;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(Unzip(W(zip), W(dest + "/"), "")) << run;
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/64bit/lib.so"), big);
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/conf/deep/x.ini"), "x");
        EXPECT_EQ(Stat(dest + "/pkg/64bit/lib.so").st_mode & 07777, 0755u);
        EXPECT_EQ(Stat(dest + "/pkg/readme.txt").st_mode & 0222, 0u);
        EXPECT_EQ(Stat(dest + "/pkg/ro.txt").st_mode & 07777, 0444u);
        EXPECT_NE(Stat(dest + "/pkg/conf/deep/x.ini").st_mode & 0200, 0u);
        EXPECT_TRUE(S_ISDIR(Stat(dest + "/pkg/empty").st_mode));
        EXPECT_EQ(Stat(dest + "/pkg/conf/deep/x.ini").st_mtime, std::mktime(&dosTime));
        EXPECT_EQ(Stat(dest + "/pkg/ut.txt").st_mtime, 1600000000);
        EXPECT_EQ(Stat(dest + "/pkg/ut.txt").st_atime, 1500000000);
        lmtest::WriteFile(dest + "/pkg/conf/deep/x.ini", "changed");
        std::filesystem::remove(dest + "/pkg/64bit/lib.so");
        std::filesystem::create_symlink(temp.path() + "/elsewhere", dest + "/pkg/64bit/lib.so");
    }
    EXPECT_FALSE(lmtest::Exists(temp.path() + "/elsewhere")) << "a link in the way is replaced, not followed";
}

TEST(Unzip, StopsAtTheFirstBadEntryAndRefusesBadArguments) {
    lmtest::TempDir temp;
    const std::string zip = temp.path() + "/bad.zip";
    ZipEntry damaged("b.txt", std::string(50000, 'b'));
    damaged.damaged = true;
    lmtest::WriteZip(zip, {{"a.txt", "first"}, damaged, {"c.txt"}});
    EXPECT_FALSE(Unzip(W(zip), W(temp.path() + "/out"), ""));
    EXPECT_EQ(Tree(temp.path() + "/out"), (std::set<std::string>{"a.txt"}));

    ZipEntry locked("secret.txt", "hidden");
    locked.password = "right";
    lmtest::WriteZip(zip, {locked});
    // Debian's minizip reads no encrypted entry at all (built without decryption).
    EXPECT_FALSE(Unzip(W(zip), W(temp.path() + "/pw"), "wrong") || Unzip(W(zip), W(temp.path() + "/pw"), ""));
    EXPECT_EQ(Tree(temp.path() + "/pw"), std::set<std::string>());

    lmtest::WriteFile(temp.path() + "/junk.zip", "PK not really");
    lmtest::WriteFile(temp.path() + "/file", "");
    EXPECT_FALSE(Unzip(W(temp.path() + "/junk.zip"), W(temp.path() + "/junk"), ""));
    EXPECT_FALSE(Unzip(W(zip), W(temp.path() + "/file"), "")) << "the destination is a file";
    EXPECT_FALSE(Unzip(W(temp.path() + "/missing.zip"), W(temp.path() + "/m1"), ""));
    EXPECT_FALSE(Unzip(W(zip), L"", "") || Unzip(L"", W(temp.path() + "/m2"), ""));
    EXPECT_FALSE(lmtest::Exists(temp.path() + "/m1") || lmtest::Exists(temp.path() + "/m2"));
}
