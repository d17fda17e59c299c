#include <sys/stat.h>

#include <ctime>

#include "UpdaterTestKit.h"
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

TEST(Unzip, NoHostileArchiveWritesOutsideTheDestination) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/out/dest", zip = temp.path() + "/z.zip";
    // Drive designators, leading separators and parent patterns are stripped as on Windows.
    lmtest::WriteZip(zip, {{"..\\..\\evil.dll"}, {"C:\\x\\y.txt"}, {"/abs/z.txt"}, {"a/../b.txt"}, {"x:/y:\\\\z"},
                           {"\\\\server\\share\\f"}, {"a\\../b/..\\c"}, {"d//./...\\e"}});
    ASSERT_TRUE(Unzip(W(zip), W(dest), ""));
    // What still leaves after that, and links, fail the extraction; "/../" is stripped before "/..\".
    for (const ZipEntry& hostile : {ZipEntry("../x"), ZipEntry("..\\x"), ZipEntry("a/../../b"), ZipEntry("x/.."),
                                    ZipEntry("a/../..\\b"), lmtest::UnixEntry("link", "/etc", 0120777),
                                    lmtest::UnixEntry("ok/../../link2", "..", 0120777)}) {
        lmtest::WriteZip(zip, {{"first.txt"}, hostile, {"after.txt"}});
        EXPECT_FALSE(Unzip(W(zip), W(dest), "")) << hostile.name;
    }
    std::filesystem::remove(zip);
    EXPECT_EQ(Tree(temp.path()), (std::set<std::string>{"out/", "out/dest/", "out/dest/evil.dll", "out/dest/x/",
                                                        "out/dest/x/y.txt", "out/dest/abs/", "out/dest/abs/z.txt",
                                                        "out/dest/b.txt", "out/dest/z", "out/dest/server/",
                                                        "out/dest/server/share/", "out/dest/server/share/f",
                                                        "out/dest/c", "out/dest/d/", "out/dest/d/.../",
                                                        "out/dest/d/.../e", "out/dest/first.txt"}));
}

TEST(Unzip, ExtractsFoldersDataModesAndTimesAndReplacesOnASecondRun) {
    lmtest::TempDir temp;
    const std::string dest = temp.path() + "/p/q", zip = temp.path() + "/pkg.zip";  // neither level exists yet
    const std::string big(40000, 'z');
    ZipEntry stamped("pkg/ut.txt");
    stamped.localExtra = lmtest::TimestampExtra(7, {1600000000, 1500000000, 1400000000});
    stamped.centralExtra = lmtest::TimestampExtra(7, {1600000000});  // announces three, carries one
    lmtest::WriteZip(zip, {{"pkg/", "", 0x10}, lmtest::UnixEntry("pkg/64bit/lib.so", big, 0100755),
                           {"pkg/readme.txt", "ro", 0x01}, lmtest::UnixEntry("pkg/ro.txt", "ro", 0100464),
                           {"pkg/conf/deep/x.ini", "x"}, stamped, lmtest::UnixEntry("pkg/empty", "", 040700)});
    std::tm dos{};  // the archive's MS-DOS time is local time
    dos.tm_year = 121, dos.tm_mon = 5, dos.tm_mday = 15, dos.tm_hour = 12, dos.tm_min = 34, dos.tm_sec = 56;
    dos.tm_isdst = -1;
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(Unzip(W(zip), W(dest + "/"), "")) << run;
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/64bit/lib.so"), big);
        EXPECT_EQ(lmtest::ReadFile(dest + "/pkg/conf/deep/x.ini"), "x");
        EXPECT_EQ(Stat(dest + "/pkg/64bit/lib.so").st_mode & 07777, 0755u);
        EXPECT_EQ(Stat(dest + "/pkg/readme.txt").st_mode & 0222, 0u);
        EXPECT_EQ(Stat(dest + "/pkg/ro.txt").st_mode & 07777, 0444u);
        EXPECT_NE(Stat(dest + "/pkg/conf/deep/x.ini").st_mode & 0200, 0u);
        EXPECT_TRUE(S_ISDIR(Stat(dest + "/pkg/empty").st_mode));
        EXPECT_EQ(Stat(dest + "/pkg/conf/deep/x.ini").st_mtime, std::mktime(&dos));
        EXPECT_EQ(Stat(dest + "/pkg/ut.txt").st_mtime, 1600000000);
        EXPECT_EQ(Stat(dest + "/pkg/ut.txt").st_atime, 1500000000);
        lmtest::WriteFile(dest + "/pkg/conf/deep/x.ini", "changed");
        std::filesystem::remove(dest + "/pkg/64bit/lib.so");
        std::filesystem::create_symlink(temp.path() + "/elsewhere", dest + "/pkg/64bit/lib.so");
    }
    EXPECT_FALSE(lmtest::Exists(temp.path() + "/elsewhere")) << "a link in the way is replaced, not followed";
}

TEST(Unzip, StopsAtACorruptEntryAndRefusesBadArguments) {
    lmtest::TempDir temp;
    const std::string t = temp.path(), zip = t + "/bad.zip";
    ZipEntry damaged("b.txt", std::string(50000, 'b'));
    damaged.damaged = true;
    lmtest::WriteZip(zip, {{"a.txt", "first"}, damaged, {"c.txt"}});
    EXPECT_FALSE(Unzip(W(zip), W(t + "/out"), ""));
    EXPECT_EQ(Tree(t + "/out"), (std::set<std::string>{"a.txt"})) << "earlier entries stay, the broken one goes";

    lmtest::WriteFile(t + "/junk.zip", "PK not really");
    lmtest::WriteFile(t + "/file", "");
    EXPECT_FALSE(Unzip(W(t + "/junk.zip"), W(t + "/junk"), ""));
    EXPECT_FALSE(Unzip(W(zip), W(t + "/file"), "")) << "the destination is a file";
    EXPECT_FALSE(Unzip(W(t + "/missing.zip"), W(t + "/m1"), "") || Unzip(W(zip), L"", "") ||
                 Unzip(L"", W(t + "/m2"), ""));
    EXPECT_FALSE(lmtest::Exists(t + "/m1") || lmtest::Exists(t + "/m2"));
}
