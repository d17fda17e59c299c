#include "PackageZip.h"

#include <zip.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "AtomicFile.h"

namespace LiveModule::pack {

namespace {

constexpr uLong kMadeOnUnix = 3u << 8 | 20;  // host system 3 (Unix), zip version 2.0
constexpr uLong kUtf8Names = 1u << 11;       // the host reads entry names as UTF-8
constexpr uLong kDosFolder = 0x10, kDosReadOnly = 0x01;

struct ZipCloser {
    void operator()(void* zip) const { zipClose(static_cast<zipFile>(zip), nullptr); }
};
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

zip_fileinfo InfoFor(const struct stat& info) {
    zip_fileinfo zi{};
    std::tm local{};
    const time_t mtime = info.st_mtime;
    localtime_r(&mtime, &local);
    if (local.tm_year < 80) {  // DOS dates start in 1980
        local = std::tm{};
        local.tm_mday = 1;
        local.tm_year = 80;
    }
    zi.tmz_date = {static_cast<uInt>(local.tm_sec), static_cast<uInt>(local.tm_min), static_cast<uInt>(local.tm_hour),
                   static_cast<uInt>(local.tm_mday), static_cast<uInt>(local.tm_mon), static_cast<uInt>(local.tm_year + 1900)};
    // Unix mode in the high half, the DOS attribute byte low for tools that read only that.
    zi.external_fa = static_cast<uLong>(info.st_mode & 0xffff) << 16;
    if (S_ISDIR(info.st_mode)) zi.external_fa |= kDosFolder;
    if (!(info.st_mode & S_IWUSR)) zi.external_fa |= kDosReadOnly;
    return zi;
}

// Extended timestamp with the modification time, so the exact second survives unpacking.
std::string TimestampExtra(const struct stat& info) {
    const long long seconds = info.st_mtime;
    const uint32_t stamp = seconds < 0 ? 0 : seconds > 0xffffffffLL ? 0xffffffffu : static_cast<uint32_t>(seconds);
    std::string block = {'U', 'T', 5, 0, 1};
    for (int i = 0; i < 4; ++i) block += static_cast<char>((stamp >> (8 * i)) & 0xff);
    return block;
}

bool AddEntry(zipFile zip, const TreeEntry& entry, const std::string& name, std::string& error) {
    const bool folder = S_ISDIR(entry.info.st_mode);
    const zip_fileinfo info = InfoFor(entry.info);
    const std::string extra = TimestampExtra(entry.info);
    const int big = entry.info.st_size >= 0xffffffffLL ? 1 : 0;
    const int opened = zipOpenNewFileInZip4_64(
        zip, name.c_str(), &info, extra.data(), static_cast<uInt>(extra.size()), extra.data(),
        static_cast<uInt>(extra.size()), nullptr, folder ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS,
        DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, kMadeOnUnix, kUtf8Names, big);
    if (opened != ZIP_OK) {
        error = "cannot add " + name + " to the zip (minizip error " + std::to_string(opened) + ")";
        return false;
    }
    bool ok = true;
    if (!folder) {
        std::unique_ptr<std::FILE, FileCloser> in(std::fopen(entry.path.c_str(), "rb"));
        if (!in) {
            error = "cannot read " + entry.path + ": " + std::strerror(errno);
            ok = false;
        }
        char buffer[65536];
        while (ok) {
            const size_t n = std::fread(buffer, 1, sizeof buffer, in.get());
            if (n > 0 && zipWriteInFileInZip(zip, buffer, static_cast<unsigned>(n)) != ZIP_OK) {
                error = "cannot write " + name + " into the zip";
                ok = false;
            }
            if (n < sizeof buffer) {
                if (std::ferror(in.get())) {
                    error = "cannot read " + entry.path + ": " + std::strerror(errno);
                    ok = false;
                }
                break;
            }
        }
    }
    if (zipCloseFileInZip(zip) != ZIP_OK && ok) {
        error = "cannot finish " + name + " in the zip";
        ok = false;
    }
    return ok;
}

}  // namespace

bool WritePackageZip(const std::vector<TreeEntry>& tree, const std::string& top, const std::string& zipPath,
                     ZipSummary& summary, std::string& error) {
    AtomicFile file(zipPath);
    if (!file.Create(error)) return false;
    {
        std::unique_ptr<void, ZipCloser> zip(zipOpen64(file.TempPath().c_str(), APPEND_STATUS_CREATE));
        if (!zip) {
            error = "cannot open " + file.TempPath() + " as a zip";
            return false;
        }
        for (const TreeEntry& entry : tree) {
            if (!AddEntry(static_cast<zipFile>(zip.get()), entry, top + "/" + entry.relative, error)) return false;
            ++summary.entries;
        }
        if (zipClose(static_cast<zipFile>(zip.release()), nullptr) != ZIP_OK) {
            error = "cannot finish the zip " + file.TempPath();
            return false;
        }
    }
    if (!file.Commit(NewFileMode(), error)) return false;
    struct stat written {};
    if (stat(zipPath.c_str(), &written) == 0) summary.bytes = static_cast<uintmax_t>(written.st_size);
    return true;
}

}  // namespace LiveModule::pack
