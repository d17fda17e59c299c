// What only Linux builds have: the process locale as the ANSI code page, symbolic links, file modes
// and ELF version notes.
#include <gtest/gtest.h>

#include <elf.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include "Encoding.h"
#include "FileUtils.h"
#include "TestSupport.h"
#include "TextConversion.h"

using namespace LiveModule;
using lmtest::Exists;
using lmtest::ReadFile;
using lmtest::WriteFile;
namespace fs = std::filesystem;

namespace {

const std::vector<std::string> kFiles = {"top.txt", ".hidden", "run.sh", "a/b/c/deep.txt", "a/.cfg/x"};

// A chain of folders under `parent` whose paths pass PATH_MAX (mkdir -p builds it step by step), so no
// path-based call reaches its deeper folders. Returns the chain's first folder.
std::string MakeBranchLongerThanPathMax(const std::string& parent) {
    std::string chain;
    for (int i = 0; i < 25; ++i) chain += std::string(200, 'L') + "/";
    EXPECT_EQ(std::system(("cd " + parent + " && mkdir -p " + chain).c_str()), 0);
    return parent + "/" + chain.substr(0, 200);
}

std::string Poke(std::string bytes, std::size_t offset, const std::string& with) {
    return bytes.replace(offset, with.size(), with);
}

}  // namespace

TEST(AnsiConversion, FollowsTheProcessLocaleAndCountsPlainCAsUtf8) {
    EXPECT_EQ(AnsiToUtf8(std::string("\xE7\xBD\x91\xFF" "b\0c", 7)), "\xE7\xBD\x91\xEF\xBF\xBD" "b");  // stops at NUL
    EXPECT_EQ(Utf8ToAnsi(std::string("x\xE4\xB8\0b", 5)), "x\xEF\xBF\xBD\xEF\xBF\xBD");  // one U+FFFD per bad byte
    EXPECT_EQ(AnsiToWide(std::string("\xE7\xBD\x91\xC0\0x", 6)), L"网\uFFFD");

    struct Restore {
        ~Restore() { std::setlocale(LC_ALL, "C"); unsetenv("LOCPATH"); }
    } restore;
    // scripts/deps.sh generates the locale; without it, one is built for this test alone.
    lmtest::TempDir locales;
    if (!std::setlocale(LC_ALL, "zh_CN.GBK")) {
        const std::string command = "localedef -i zh_CN -f GBK " + locales.path() + "/zh_CN.GBK >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) GTEST_SKIP() << "no zh_CN.GBK locale, and localedef cannot build one";
        setenv("LOCPATH", locales.path().c_str(), 1);
        ASSERT_NE(std::setlocale(LC_ALL, "zh_CN.GBK"), nullptr);
    }
    EXPECT_EQ(AnsiToUtf8("\xCD\xF8"), "\xE7\xBD\x91");
    EXPECT_EQ(Utf8ToAnsi("\xE7\xBD\x91\xF0\x9F\x98\x80"), "\xCD\xF8?");  // no emoji in GBK
    EXPECT_EQ(AnsiToWide("\xCD\xF8"), L"网");
    EXPECT_EQ(UrlEncodeUtf8("\xCD\xF8 a"), "%E7%BD%91+a");
}

TEST(AnsiConversion, SequencesBeyondU10FFFFBecomeOneReplacementPerByte) {
    const std::string fffd = "\xEF\xBF\xBD";
    for (const auto& [bytes, replaced] : std::vector<std::pair<std::string, std::size_t>>{
             {"\xF4\x90\x80\x80", 4}, {"\xF7\xBF\xBF\xBF", 4}, {"\xF8\x88\x80\x80\x80", 5},
             {"\xFC\x84\x80\x80\x80\x80", 6}}) {
        std::string expected = "a";
        for (std::size_t i = 0; i < replaced; ++i) expected += fffd;
        EXPECT_EQ(AnsiToUtf8("a" + bytes), expected);
        EXPECT_EQ(Utf8ToAnsi("a" + bytes), expected);
        EXPECT_EQ(AnsiToWide(bytes), std::wstring(replaced, L'\uFFFD'));
    }
    EXPECT_EQ(AnsiToUtf8("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF") << "U+10FFFF itself is a character";
    EXPECT_EQ(UrlEncodeUtf8("\xF4\x90\x80\x80"), "%EF%BF%BD%EF%BF%BD%EF%BF%BD%EF%BF%BD");
}

TEST(FileUtils, NothingIsDeletedOrWrittenThroughALinkAndReadOnlyFilesGo) {
    lmtest::TempDir dir;
    const std::string d = dir.path() + "/";
    WriteFile(d + "work/lib.so", "author's"), WriteFile(d + "work/sub/notes", "n"), WriteFile(d + "file", "outside");
    const auto untouched = [&] {
        return ReadFile(d + "work/lib.so") == "author's" && ReadFile(d + "work/sub/notes") == "n" &&
               ReadFile(d + "file") == "outside";
    };
    // A module folder that is a link: deleting removes the link alone, with or without a final "/".
    for (const auto& [link, target] : std::vector<std::pair<std::string, std::string>>{
             {"linked", "work"}, {"slashed", "work"}, {"dangling", "none"}}) {
        fs::create_directory_symlink(d + target, d + link);
        EXPECT_TRUE(DeleteDir(d + link + (link == "slashed" ? "/" : ""))) << link;
        EXPECT_FALSE(fs::exists(fs::symlink_status(d + link))) << link;
        EXPECT_TRUE(untouched()) << link;
    }
    // Copying over links in the destination (to a file, a second name of a file, to a folder) replaces them.
    WriteFile(d + "src/lib.so", "package"), WriteFile(d + "src/notes", "p"), WriteFile(d + "src/sub/notes", "p");
    fs::create_directories(d + "dst");
    fs::create_symlink(d + "work/lib.so", d + "dst/lib.so");
    fs::create_hard_link(d + "file", d + "dst/notes");
    fs::create_directory_symlink(d + "work/sub", d + "dst/sub");
    EXPECT_FALSE(CopyDir(d + "src", d + "dst", false)) << "without overwrite the links stay in the way";
    EXPECT_TRUE(untouched());
    EXPECT_TRUE(CopyDir(d + "src", d + "dst", true));
    EXPECT_TRUE(untouched());
    EXPECT_EQ(ReadFile(d + "dst/lib.so") + ReadFile(d + "dst/notes") + ReadFile(d + "dst/sub/notes"), "packagepp");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(d + "dst/lib.so")) || fs::is_symlink(fs::symlink_status(d + "dst/sub")));
    fs::create_directory_symlink(d + "work", d + "linkdst");
    EXPECT_TRUE(CopyDir(d + "src", d + "linkdst", true));
    EXPECT_TRUE(untouched() && fs::is_directory(fs::symlink_status(d + "linkdst")));

    // Read-only files (and the folders holding them) go; the folders' own bits allow it.
    fs::permissions(d + "dst/lib.so", fs::perms::owner_read);
    fs::permissions(d + "dst/sub/notes", fs::perms::none);
    EXPECT_TRUE(DeleteDir(d + "dst"));
    EXPECT_FALSE(Exists(d + "dst"));

    // Every missing level is made; levels that are links to folders are passed through.
    EXPECT_TRUE(CreateDirTree(d + "fresh/a/b/c/") && CreateDirTree(d + "fresh/a/b/c"));
    fs::create_directory_symlink(d + "work", d + "wl");
    EXPECT_TRUE(CreateDirTree(d + "wl/new/level"));
    EXPECT_TRUE(fs::is_directory(d + "work/new/level"));
    EXPECT_FALSE(CreateDirTree(d + "file/x") || CreateDirTree(d + "file") || CreateDirTree(""));
}

TEST(FileUtils, CopyAndDeleteNestedTreesGoOnAfterFailuresAndNeverFollowFolderLinks) {
    lmtest::TempDir dir;
    const std::string d = dir.path() + "/";
    for (const std::string& file : kFiles) WriteFile(d + "src/" + file, file);
    ASSERT_TRUE(CreateDir(d + "src/empty"));
    EXPECT_FALSE(CreateDir(d + "src/empty") || CreateDir(d + "x/y"));  // one mkdir: not again, not nested
    fs::permissions(d + "src/run.sh", fs::perms(0751));
    fs::create_symlink("top.txt", d + "src/link");
    ASSERT_TRUE(CopyDir(d + "src", d + "dst", false));
    for (const std::string& file : kFiles) EXPECT_EQ(ReadFile(d + "dst/" + file), file);
    EXPECT_TRUE(fs::is_directory(d + "dst/empty"));
    EXPECT_EQ(fs::status(d + "dst/run.sh").permissions(), fs::perms(0751));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(d + "dst/link")));  // the target's content, not the link

    // Without overwrite an existing file stays, and the other files are still copied; with it, a
    // longer file is replaced whole.
    WriteFile(d + "dst/top.txt", "mine, longer");
    fs::remove(d + "dst/a/b/c/deep.txt");
    EXPECT_FALSE(CopyDir(d + "src", d + "dst", false));
    EXPECT_EQ(ReadFile(d + "dst/top.txt") + "|" + ReadFile(d + "dst/a/b/c/deep.txt"), "mine, longer|a/b/c/deep.txt");
    EXPECT_TRUE(CopyDir(d + "src", d + "dst", true));
    EXPECT_EQ(ReadFile(d + "dst/top.txt"), "top.txt");
    EXPECT_FALSE(CopyDir(d + "src", d + "src", true));  // must not truncate onto itself
    EXPECT_EQ(ReadFile(d + "src/top.txt"), "top.txt");
    EXPECT_FALSE(CopyDir(d + "missing", d + "dst2", false) || CopyDir(d + "src", d + "no/dst", false));

    // A folder where a file goes, a branch beyond PATH_MAX and a folder link fail; the rest is copied.
    WriteFile(d + "outside/keep", "k");
    fs::create_directory_symlink("../../outside", d + "src/a/dirlink");
    fs::create_symlink(d + "outside/keep", d + "src/filelink");
    fs::create_directories(d + "dst3/top.txt");
    const std::string branch = MakeBranchLongerThanPathMax(d + "src/a");
    EXPECT_FALSE(CopyDir(d + "src", d + "dst3", true));
    EXPECT_FALSE(Exists(d + "dst3/a/dirlink"));
    for (std::size_t i = 1; i < kFiles.size(); ++i) EXPECT_EQ(ReadFile(d + "dst3/" + kFiles[i]), kFiles[i]);

    // Deleting removes links, not what they point to; a branch it cannot reach stays with its parents.
    fs::create_directory_symlink("../outside", d + "dst/dirlink");
    EXPECT_TRUE(DeleteDir(d + "dst") && DeleteDir(d + "missing"));
    EXPECT_FALSE(Exists(d + "dst"));
    EXPECT_FALSE(DeleteDir(d + "src"));
    EXPECT_EQ(ReadFile(d + "outside/keep"), "k");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(branch)));
    for (const char* gone : {"top.txt", ".hidden", "link", "filelink", "empty", "a/dirlink", "a/b", "a/.cfg"}) {
        EXPECT_FALSE(Exists(d + "src/" + gone)) << gone;
    }
}

TEST(GetFileProductVersion, ReadsTheNoteOfABuiltProgramAndGivesEmptyTextForAnyDamage) {
    lmtest::TempDir dir;
    const std::string program = dir.path() + "/program", sample = ReadFile(VERSION_NOTE_SAMPLE);
    EXPECT_EQ(GetFileProductVersion(VERSION_NOTE_SAMPLE), "30.0.0");
    for (const std::string& path : {std::string("/proc/self/exe"), program, dir.path()}) {
        EXPECT_EQ(GetFileProductVersion(path), "") << path;  // an ELF file without the note, none, a folder
    }
    const auto versionOf = [&program](const std::string& bytes) {
        WriteFile(program, bytes);
        return GetFileProductVersion(program);
    };
    const std::size_t translation = sample.find("Translation=040904b0") + 12;
    const std::size_t note = sample.find(std::string("\1\0\0\0LiveModule", 14)) - 8;
    const std::size_t descriptorEnd = sample.find("ProductVersion=30.0.0") + 22;
    EXPECT_EQ(versionOf(Poke(sample, translation, "040904B0")), "30.0.0");
    const std::string damaged[] = {
        "", "plain text, long enough for an ELF identification",
        Poke(sample, translation, "080404b0"),  // no string table for that translation
        Poke(sample, translation - 2, "_"), sample.substr(0, 20), sample.substr(0, note + 8),
        sample.substr(0, descriptorEnd - 1), sample.substr(0, sample.size() - 1),  // cut short
        Poke(sample, offsetof(Elf64_Ehdr, e_shoff), "\xF7\xFF\xFF\xFF\xFF\xFF\xFF\xFF"),
        Poke(sample, offsetof(Elf64_Ehdr, e_shnum), "\xFF\xFF"),
        Poke(sample, offsetof(Elf64_Ehdr, e_shentsize), std::string("\x08\x00", 2)),
        Poke(sample, note, "\xFF\xFF\xFF\xFF"), Poke(sample, note + 4, "\xFC\xFF\xFF\xFF"),  // owner, descriptor sizes
        Poke(sample, descriptorEnd - 1, "x"),  // the last string loses its NUL
        Poke(sample, EI_DATA, "\x02"),         // big-endian
    };
    for (std::size_t i = 0; i < std::size(damaged); ++i) EXPECT_EQ(versionOf(damaged[i]), "") << "case " << i;
}
