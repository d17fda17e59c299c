#include "TestArchives.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <filesystem>

namespace lmtest {

ZipEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode) {
    ZipEntry entry(name, data, static_cast<unsigned long>(mode) << 16);
    entry.versionMadeBy = 3u << 8 | 20;
    return entry;
}

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr) << path;
    for (const ZipEntry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date = {56, 34, 12, 15, 5, 2021};
        info.external_fa = e.externalAttributes;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
        ASSERT_EQ(zipOpenNewFileInZip4(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                       e.damaged ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION, e.damaged, -MAX_WBITS,
                                       DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, crc, e.versionMadeBy, 0),
                  ZIP_OK) << e.name;
        ASSERT_EQ(zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())), ZIP_OK);
        ASSERT_EQ(e.damaged ? zipCloseFileInZipRaw(zip, e.data.size(), crc ^ 1) : zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.insert(std::filesystem::relative(entry.path(), root).string() +
                     (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    return paths;
}

}  // namespace lmtest
