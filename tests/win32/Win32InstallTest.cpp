// What an install rests on under Windows: folder renames in place of Linux's one-step exchange and
// the read-only attribute for permission bits.
#include "TestSupport.h"  // first: its catalogue server includes winsock2.h, which must precede windows.h

#include <gtest/gtest.h>

#include <windows.h>

#include "FileUtils.h"
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

}  // namespace

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
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);  // so the folder can be removed
}
