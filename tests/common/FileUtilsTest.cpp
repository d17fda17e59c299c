#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "FileUtils.h"
#include "TempFolder.h"

using namespace LiveModule;

namespace {

// The st_mode of `path` itself (links not followed), or 0.
mode_t Mode(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

// src: top.txt, .hidden, run.sh (0751), a/b/c/deep.txt, a/.cfg/x, empty/, link -> top.txt
void MakeTree(const TempFolder& folder) {
    for (const char* dir : {"src", "src/a", "src/a/b", "src/a/b/c", "src/a/.cfg", "src/empty"}) {
        ASSERT_TRUE(CreateDir(folder / dir));
    }
    for (const char* file : {"top.txt", ".hidden", "run.sh", "a/b/c/deep.txt", "a/.cfg/x"}) {
        WriteFile(folder / "src/" + file, file);
    }
    chmod((folder / "src/run.sh").c_str(), 0751);
    ASSERT_EQ(symlink("top.txt", (folder / "src/link").c_str()), 0);
}

}  // namespace

TEST(CreateDir, CreatesOneLevelOnly) {
    TempFolder folder;
    EXPECT_TRUE(CreateDir(folder / "a"));
    EXPECT_FALSE(CreateDir(folder / "a"));
    EXPECT_FALSE(CreateDir(folder / "x/y"));
    EXPECT_FALSE(PathExists(folder / "x"));
    WriteFile(folder / "f", "");
    EXPECT_TRUE(PathExists(folder / "f") && PathExists(folder / "a"));
}

TEST(CopyDir, CopiesNestedTreesAndHonoursOverwrite) {
    TempFolder folder;
    MakeTree(folder);
    ASSERT_TRUE(CopyDir(folder / "src", folder / "dst", false));
    for (const char* file : {"top.txt", ".hidden", "a/b/c/deep.txt", "a/.cfg/x"}) {
        EXPECT_EQ(ReadFile(folder / "dst/" + file), file);
    }
    EXPECT_TRUE(S_ISDIR(Mode(folder / "dst/empty")));
    EXPECT_EQ(Mode(folder / "dst/run.sh"), S_IFREG | 0751);
    EXPECT_TRUE(S_ISREG(Mode(folder / "dst/link")));  // the target's content, not the link

    // Without overwrite an existing file stays, and the other files are still copied.
    WriteFile(folder / "dst/top.txt", "mine");
    ASSERT_EQ(unlink((folder / "dst/a/b/c/deep.txt").c_str()), 0);
    EXPECT_FALSE(CopyDir(folder / "src", folder / "dst", false));
    EXPECT_EQ(ReadFile(folder / "dst/top.txt"), "mine");
    EXPECT_EQ(ReadFile(folder / "dst/a/b/c/deep.txt"), "a/b/c/deep.txt");
    EXPECT_TRUE(CopyDir(folder / "src", folder / "dst", true));
    EXPECT_EQ(ReadFile(folder / "dst/top.txt"), "top.txt");

    EXPECT_FALSE(CopyDir(folder / "src", folder / "src", true));  // must not truncate onto itself
    EXPECT_EQ(ReadFile(folder / "src/top.txt"), "top.txt");
    EXPECT_TRUE(CopyDir(folder / "src/empty", folder / "dst2", false));
    EXPECT_FALSE(CopyDir(folder / "missing", folder / "dst3", false));
    EXPECT_TRUE(S_ISDIR(Mode(folder / "dst2")) && S_ISDIR(Mode(folder / "dst3")));
    EXPECT_FALSE(CopyDir(folder / "src", folder / "no/dst", false));
}

TEST(CopyDir, GoesOnAfterFailedEntries) {
    TempFolder folder;
    MakeTree(folder);
    ASSERT_TRUE(CreateDir(folder / "outside"));
    WriteFile(folder / "outside/secret", "s");
    ASSERT_EQ(symlink("../outside", (folder / "src/dirlink").c_str()), 0);
    MakeBranchLongerThanPathMax(folder / "src/a");
    ASSERT_TRUE(CreateDir(folder / "dst"));
    ASSERT_TRUE(CreateDir(folder / "dst/top.txt"));  // a directory where the source has a file

    EXPECT_FALSE(CopyDir(folder / "src", folder / "dst", true));
    EXPECT_FALSE(PathExists(folder / "dst/dirlink"));
    for (const char* file : {".hidden", "run.sh", "a/b/c/deep.txt", "a/.cfg/x"}) {
        EXPECT_EQ(ReadFile(folder / "dst/" + file), file);
    }
}

TEST(DeleteDir, DeletesTreesButNeverThroughLinks) {
    TempFolder folder;
    EXPECT_TRUE(DeleteDir(folder / "missing"));
    MakeTree(folder);
    ASSERT_TRUE(CreateDir(folder / "outside"));
    WriteFile(folder / "outside/keep", "k");
    ASSERT_EQ(symlink("../../outside", (folder / "src/a/dirlink").c_str()), 0);
    ASSERT_EQ(symlink((folder / "outside/keep").c_str(), (folder / "src/filelink").c_str()), 0);
    EXPECT_TRUE(DeleteDir(folder / "src"));
    EXPECT_FALSE(PathExists(folder / "src"));
    EXPECT_EQ(ReadFile(folder / "outside/keep"), "k");

    // A branch it cannot reach stays with its parents; everything else goes.
    MakeTree(folder);
    const std::string branch = MakeBranchLongerThanPathMax(folder / "src/a");
    EXPECT_FALSE(DeleteDir(folder / "src"));
    EXPECT_TRUE(S_ISDIR(Mode(branch)));
    for (const char* gone : {"top.txt", ".hidden", "link", "empty", "a/b", "a/.cfg"}) {
        EXPECT_FALSE(PathExists(folder / "src/" + gone)) << gone;
    }
}
