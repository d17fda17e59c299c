// The installation tree on Windows: directory helpers, whole-file replacement, output files with
// times and read-only attribute, zip packages extracted under "\" folders, and the factory's folders.
#include <gtest/gtest.h>

#include <windows.h>
#include <zip.h>

#include <vector>

#include "FactoryEnvironment.h"
#include "FileUtils.h"
#include "Win32TestSupport.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "updater/UpdateInterval.h"
#include "updater/ZipExtractor.h"

namespace platform = LiveModule::platform;
using lmtest::win32::ReadFile;
using lmtest::win32::TempDir;
using lmtest::win32::WriteFile;

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

struct ZipItem {
    std::string name;
    std::string content;
    unsigned long dosAttributes = 0;
};

// A zip written by minizip, as a DOS-type host writes it.
void WriteZip(const std::string& path, const std::vector<ZipItem>& items) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const ZipItem& item : items) {
        zip_fileinfo info{};
        info.tmz_date = {0, 0, 12, 1, 5, 2024};  // 1 June 2024, 12:00 local time
        info.external_fa = item.dosAttributes;
        ASSERT_EQ(zipOpenNewFileInZip64(zip, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                        Z_DEFAULT_COMPRESSION, 0),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, item.content.data(), static_cast<unsigned>(item.content.size())), ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

}  // namespace

TEST(Win32Files, CopyAndDeleteNestedTreesUnderBackslashPaths) {
    TempDir dir;
    const std::string source = dir.path() + "src";
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

    const std::string copy = dir.path() + "dst";
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
    const std::string record = dir.path() + "ModuleInfo";
    WriteFile(record, "old");
    ASSERT_TRUE(platform::ReplaceFileContent(record, "new content"));
    std::string read;
    ASSERT_TRUE(platform::ReadWholeFile(record, read));
    EXPECT_EQ(read, "new content");
    std::vector<platform::DirEntry> entries;
    ASSERT_TRUE(platform::ListDirectory(dir.path(), entries));
    EXPECT_EQ(entries.size(), 3u) << "no temporary file is left beside it";

    const std::string path = dir.path() + "entry.dll";
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
    EXPECT_FALSE(folder.CreateReplacing(dir.path().substr(0, dir.path().size() - 1))) << "a folder stays";
}

TEST(Win32Zip, ExtractsPackagesUnderBackslashFoldersAndRefusesEscapes) {
    TempDir dir;
    const std::string package = dir.path() + "pkg.zip";
    WriteZip(package, {{"pkg/64bit/pkg_6_3_1_0.dll", "library"},
                       {"pkg/readme.txt", "read me", 0x01},
                       {"pkg/empty/", "", 0x10}});
    const std::string staging = dir.path() + "Temp\\";
    ASSERT_TRUE(LiveModule::UnzipPackage(package, staging));
    EXPECT_EQ(ReadFile(staging + "pkg\\64bit\\pkg_6_3_1_0.dll"), "library");
    EXPECT_TRUE(IsReadOnly(staging + "pkg\\readme.txt"));
    EXPECT_FALSE(IsReadOnly(staging + "pkg\\64bit\\pkg_6_3_1_0.dll"));
    EXPECT_TRUE(platform::IsDirectory(staging + "pkg\\empty"));

    const std::string hostile = dir.path() + "hostile.zip";
    WriteZip(hostile, {{"pkg/../../escaped.txt", "out"}});
    EXPECT_FALSE(LiveModule::UnzipPackage(hostile, dir.path() + "inner\\"));
    EXPECT_FALSE(LiveModule::PathExists(dir.path() + "escaped.txt"));
}

TEST(Win32FactoryDirectories, FollowTheLibraryPathWithBackslashes) {
    const auto dirs = LiveModule::DetectDirectories(
        "C:\\p\\root\\modules\\LiveModuleFactory\\64bit\\LiveModuleFactory.dll", "C:\\Users\\u\\AppData\\Local");
    EXPECT_EQ(dirs.factoryDir, "C:\\p\\root\\modules\\LiveModuleFactory\\64bit\\");
    EXPECT_EQ(dirs.modulesDir, "C:\\p\\root\\modules\\");
    EXPECT_EQ(dirs.configDir, "C:\\p\\root\\config\\");
    EXPECT_EQ(dirs.logDir, "C:\\p\\root\\logs\\");
    EXPECT_EQ(dirs.tempDir, "C:\\Users\\u\\AppData\\Local\\Temp\\p\\root\\");
    EXPECT_EQ(LiveModule::GlobalIniPath(dirs.modulesDir), "C:\\p\\root\\global.ini");
}
