// The installation tree on Windows: directory helpers under "\" paths, whole-file replacement,
// output files with times and the read-only attribute, folder renames in place of Linux's one-step
// exchange, and the read-only attribute for permission bits.
#include "TestSupport.h"  // first: its catalogue server includes winsock2.h, which must precede windows.h

#include <gtest/gtest.h>

#include <windows.h>

#include "FileUtils.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"

namespace platform = LiveModule::platform;
using lmtest::ReadFile;
using lmtest::TempDir;
using lmtest::WriteFile;

namespace {

bool IsReadOnly(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Last write time in seconds since 1970, or -1.
long long LastWriteSeconds(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    const unsigned long long ticks =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    return static_cast<long long>(ticks / 10000000ULL) - 11644473600LL;
}

}  // namespace

TEST(Win32Files, CopyAndDeleteNestedTreesUnderBackslashPaths) {
    TempDir dir;
    const std::string source = dir.path() + "\\src";
    ASSERT_TRUE(LiveModule::CreateDir(source));
    ASSERT_TRUE(LiveModule::CreateDir(source + "\\a"));
    ASSERT_TRUE(LiveModule::CreateDir(source + "\\a\\b"));
    WriteFile(source + "\\top.txt", "top");
    WriteFile(source + "\\a\\b\\deep.txt", "deep");
    EXPECT_FALSE(LiveModule::CreateDir(source + "\\x\\y")) << "one level at a time";

    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(source, entries));
    int directories = 0;
    int files = 0;
    for (const platform::DirEntry& entry : entries) {
        directories += entry.isDirectory;
        files += entry.isRegularFile;
    }
    EXPECT_EQ(directories, 3) << "\".\", \"..\" and \"a\"";
    EXPECT_EQ(files, 1);

    const std::string copy = dir.path() + "\\dst";
    ASSERT_TRUE(LiveModule::CopyDir(source, copy, false));
    EXPECT_EQ(ReadFile(copy + "\\a\\b\\deep.txt"), "deep");
    WriteFile(copy + "\\top.txt", "changed");
    EXPECT_FALSE(LiveModule::CopyDir(source, copy, false)) << "an existing file is kept";
    EXPECT_EQ(ReadFile(copy + "\\top.txt"), "changed");
    EXPECT_TRUE(LiveModule::CopyDir(source, copy, true));
    EXPECT_EQ(ReadFile(copy + "\\top.txt"), "top");

    EXPECT_TRUE(LiveModule::DeleteDir(copy));
    EXPECT_FALSE(LiveModule::PathExists(copy));
    EXPECT_TRUE(LiveModule::DeleteDir(copy)) << "nothing to delete is success";
}

TEST(Win32FileContent, ReplacesWholeFilesAndWritesTimesAndTheReadOnlyAttribute) {
    TempDir dir;
    const std::string record = dir.path() + "\\ModuleInfo";
    WriteFile(record, "old");
    ASSERT_TRUE(platform::ReplaceFileContent(record, "new content"));
    std::string read;
    ASSERT_TRUE(platform::ReadWholeFile(record, read));
    EXPECT_EQ(read, "new content");
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.path(), entries));
    EXPECT_EQ(entries.size(), 3u) << "no temporary file is left beside it";

    const std::string path = dir.path() + "\\entry.dll";
    WriteFile(path, "previous");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    {
        platform::OutputFile file;
        ASSERT_TRUE(file.CreateReplacing(path)) << "a read-only file is replaced too";
        ASSERT_TRUE(file.Write("fresh", 5));
        ASSERT_TRUE(file.SetTimes(1000000000, 1200000000));
        ASSERT_TRUE(file.RemoveWriteBits());
        ASSERT_TRUE(file.Close());
    }
    EXPECT_EQ(ReadFile(path), "fresh");
    EXPECT_TRUE(IsReadOnly(path));
    EXPECT_EQ(LastWriteSeconds(path), 1200000000);

    platform::OutputFile folder;
    EXPECT_FALSE(folder.CreateReplacing(dir.path())) << "a folder stays";
}

TEST(Win32FolderRenames, ExchangeSwapsTwoFoldersAndMoveNeverReplaces) {
    const TempDir temp;
    const std::string first = temp.path() + "\\first", second = temp.path() + "\\second";
    ASSERT_TRUE(platform::MakeDirectory(first));
    ASSERT_TRUE(platform::MakeDirectory(second));
    WriteFile(first + "\\a.txt", "new");
    WriteFile(second + "\\a.txt", "old");

    EXPECT_TRUE(platform::ExchangePaths(first, second));
    EXPECT_EQ(ReadFile(second + "\\a.txt"), "new");
    EXPECT_EQ(ReadFile(first + "\\a.txt"), "old");
    EXPECT_FALSE(platform::Exists(first + ".aside"));

    // The new one cannot move in: the old one is back under its name, nothing else changed.
    const std::string missing = temp.path() + "\\missing";
    EXPECT_FALSE(platform::ExchangePaths(missing, second));
    EXPECT_EQ(ReadFile(second + "\\a.txt"), "new");
    EXPECT_FALSE(platform::Exists(missing + ".aside"));

    EXPECT_FALSE(platform::MovePath(first, second));
    EXPECT_EQ(ReadFile(second + "\\a.txt"), "new");
    const std::string third = temp.path() + "\\third";
    EXPECT_TRUE(platform::MovePath(first, third));
    EXPECT_EQ(ReadFile(third + "\\a.txt"), "old");
    EXPECT_FALSE(platform::Exists(first));
}

TEST(Win32Permissions, OnlyTheOwnersWriteBitBecomesReadOnlyAndNoUmaskExists) {
    const TempDir temp;
    const std::string file = temp.path() + "\\file.txt";
    WriteFile(file, "x");
    EXPECT_TRUE(platform::ClearPermissionBits(file, 0022));
    EXPECT_FALSE(IsReadOnly(file));
    EXPECT_TRUE(platform::ClearPermissionBits(file, 0200));
    EXPECT_TRUE(IsReadOnly(file));
    const std::string folder = temp.path() + "\\folder";
    ASSERT_TRUE(platform::MakeDirectory(folder));
    EXPECT_TRUE(platform::ClearPermissionBits(folder, 0222));
    EXPECT_FALSE(IsReadOnly(folder));
    EXPECT_FALSE(platform::ClearPermissionBits(temp.path() + "\\none", 0200));
    EXPECT_EQ(platform::ProcessUmask(), 0u);
}
