#include "updater/ZipExtractor.h"

#include <unzip.h>
#include <zlib.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "KillPoint.h"
#include "FileUtils.h"
#include "LogBridge.h"
#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "platform/TextCodec.h"
#include "updater/ZipEntryName.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {

constexpr unsigned kChunkSize = 16384;

// External-attribute bits: the DOS byte, and the Unix st_mode in the high 16 bits.
constexpr unsigned long kDosReadOnly = 0x01;
constexpr unsigned long kDosDirectory = 0x10;
constexpr unsigned long kUnixDirectory = 0x40000000;  // S_IFDIR << 16
constexpr unsigned long kUnixOwnerWrite = 0x800000;   // S_IWUSR << 16
constexpr unsigned long kUnixTypeMask = 0170000;
constexpr unsigned long kUnixLink = 0120000;

struct ArchiveCloser {
    void operator()(void* archive) const { unzClose(archive); }
};
using Archive = std::unique_ptr<void, ArchiveCloser>;

std::optional<std::string> NativePath(const std::wstring& wide) {
    return platform::EncodeText(platform::Codeset::Ansi, wide, platform::OnBadInput::Fail);
}

// True when `path` is a directory of its own, not a link to one: a link inside the destination
// could lead an entry outside it.
bool IsRealDirectory(const std::string& path) {
    return platform::IsDirectory(path) && !platform::IsLink(path);
}

// Creates base + the first `count` levels; each must end up a real directory.
bool CreateEntryLevels(std::string path, const std::vector<std::string>& levels, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        path += levels[i];
        platform::MakeDirectory(path);
        if (!IsRealDirectory(path)) return false;
        path += platform::kPathSeparator;
    }
    return true;
}

struct EntryAttributes {
    bool directory = false;
    bool readOnly = false;
    bool link = false;
    std::optional<unsigned> unixPermissions;  // set by Unix-like hosts that record them
};

// The hidden, system and archive bits have no Linux counterpart and are dropped.
EntryAttributes AttributesOf(const unz_file_info64& info) {
    const unsigned long host = (info.version >> 8) & 0xff;
    const unsigned long attributes = info.external_fa;
    EntryAttributes result;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        result.directory = (attributes & kDosDirectory) != 0;
        result.readOnly = (attributes & kDosReadOnly) != 0;
        return result;
    }
    const unsigned long mode = (attributes >> 16) & 0xffff;
    result.directory = (attributes & kUnixDirectory) != 0;
    result.readOnly = (attributes & kUnixOwnerWrite) == 0;
    result.link = (mode & kUnixTypeMask) == kUnixLink;
    // Some writers leave the mode at 0; that keeps the default permissions rather than none.
    if (mode != 0) result.unixPermissions = static_cast<unsigned>(mode & 0777);
    return result;
}

struct EntryTimes {
    int64_t access = 0;
    int64_t modification = 0;
};

// The MS-DOS date and time are local time.
int64_t LocalDosTime(const tm_unz& date) {
    std::tm local{};
    local.tm_year = static_cast<int>(date.tm_year) - 1900;
    local.tm_mon = static_cast<int>(date.tm_mon);
    local.tm_mday = static_cast<int>(date.tm_mday);
    local.tm_hour = static_cast<int>(date.tm_hour);
    local.tm_min = static_cast<int>(date.tm_min);
    local.tm_sec = static_cast<int>(date.tm_sec);
    local.tm_isdst = -1;  // whatever daylight saving time was in force on that date
    return static_cast<int64_t>(std::mktime(&local));
}

uint32_t ReadLittleEndian(const std::string& bytes, std::size_t at, std::size_t width) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

// Applies the extended-timestamp block ("UT") of an extra field: the flag byte announces the
// modification, access and creation times (bits 0, 1, 2), each an unsigned 32-bit count of seconds.
// A central-directory block announces times it does not carry, so only times present are taken.
// Linux cannot set a creation time.
void ApplyExtendedTimestamp(const std::string& extra, EntryTimes& times) {
    std::size_t at = 0;
    while (at + 4 <= extra.size()) {
        const uint32_t tag = ReadLittleEndian(extra, at, 2);
        const std::size_t size = ReadLittleEndian(extra, at + 2, 2);
        const std::size_t data = at + 4;
        at = data + size;
        if (tag != 0x5455 || size < 1 || at > extra.size()) continue;
        const unsigned flags = static_cast<unsigned char>(extra[data]);
        std::size_t field = data + 1;
        if ((flags & 1) && field + 4 <= at) {
            times.modification = ReadLittleEndian(extra, field, 4);
            field += 4;
        }
        if ((flags & 2) && field + 4 <= at) times.access = ReadLittleEndian(extra, field, 4);
    }
}

// Writes the open entry's data to `path`, then its permissions and times. The data must come to the
// declared size and CRC: minizip checks the CRC only once every declared byte was read, so data
// that ends early would otherwise pass as a shorter, damaged file.
bool WriteEntryFile(unzFile archive, const unz_file_info64& info, const std::string& path,
                    const EntryAttributes& attributes, EntryTimes times) {
    std::string localExtra;
    const int localExtraSize = unzGetLocalExtrafield(archive, nullptr, 0);
    if (localExtraSize > 0) {
        localExtra.resize(static_cast<std::size_t>(localExtraSize));
        if (unzGetLocalExtrafield(archive, localExtra.data(), static_cast<unsigned>(localExtraSize)) == localExtraSize) {
            ApplyExtendedTimestamp(localExtra, times);
        }
    }

    platform::OutputFile file;
    const bool created = file.CreateReplacing(path);
    bool ok = created;
    std::vector<char> chunk(kChunkSize);
    ZPOS64_T size = 0;
    uLong crc = crc32(0, nullptr, 0);
    while (ok) {
        const int got = unzReadCurrentFile(archive, chunk.data(), kChunkSize);
        if (got == 0) break;
        ok = got > 0 && file.Write(chunk.data(), static_cast<std::size_t>(got));
        if (!ok) break;
        size += static_cast<ZPOS64_T>(got);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), static_cast<uInt>(got));
    }
    ok = ok && size == info.uncompressed_size && crc == info.crc;
    ok = unzCloseCurrentFile(archive) == UNZ_OK && ok;
    if (ok) {
        // Permissions and times are best effort: some file systems keep neither.
        if (attributes.unixPermissions) {
            // The package's bits less the umask, as a file it created itself would get.
            file.SetPermissions(*attributes.unixPermissions & (attributes.readOnly ? ~0222u : 0777u) &
                                ~platform::ProcessUmask());
        } else if (attributes.readOnly) {
            file.RemoveWriteBits();
        }
        file.SetTimes(times.access, times.modification);
    }
    ok = file.Close() && ok;
    if (!ok && created) platform::RemoveFile(path);
    return ok;
}

// Where the entries of one archive go, and which of them are let in.
struct Extraction {
    std::string archive;    // native path
    std::string base;       // the destination, ending with a separator
    const char* password;   // null for none
    // When set, only entries under this first level are extracted; the others are skipped.
    std::optional<std::string> topFolder;
};

// Extracts the archive's current entry under the base folder.
bool ExtractEntry(unzFile archive, const Extraction& extraction) {
    const std::string& base = extraction.base;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    std::string storedName(info.size_filename + 1, '\0');
    std::string centralExtra(info.size_file_extra, '\0');
    if (unzGetCurrentFileInfo64(archive, &info, storedName.data(), static_cast<uLong>(storedName.size()),
                                centralExtra.data(), static_cast<uLong>(centralExtra.size()), nullptr, 0) != UNZ_OK) {
        return false;
    }
    storedName.resize(info.size_filename);

    const EntryAttributes attributes = AttributesOf(info);
    if (attributes.link) return false;
    const auto decoded = platform::DecodeText(platform::Codeset::Utf8, storedName.c_str(), platform::OnBadInput::Replace);
    if (!decoded) return false;
    const std::wstring mapped = MapEntryName(*decoded);
    std::vector<std::wstring> wideLevels;
    if (!SplitEntryLevels(mapped, wideLevels)) return false;
    std::vector<std::string> levels;
    for (const std::wstring& level : wideLevels) {
        const auto native = NativePath(level);
        if (!native) return false;
        levels.push_back(*native);
    }

    // Writers mark folders by the attribute or by a final separator; either makes a folder here.
    const bool directory = attributes.directory || mapped.empty() || mapped.back() == L'/' || mapped.back() == L'\\';
    if (extraction.topFolder && !levels.empty() &&
        (levels.front() != *extraction.topFolder || (levels.size() == 1 && !directory))) {
        // A package only ever fills its own folder: anything beside it (say, another package's zip
        // in the staging folder) is left out.
        LM_LOG(kLogError, "[LiveModuleUpdater] Skip package entry outside its folder {path: %s, entry: %s}",
               extraction.archive.c_str(), storedName.c_str());
        return true;
    }
    if (directory) return CreateEntryLevels(base, levels, levels.size());
    if (levels.empty() || !CreateEntryLevels(base, levels, levels.size() - 1)) return false;

    std::string path = base;
    for (std::size_t i = 0; i < levels.size(); ++i) path += (i == 0 ? "" : platform::kPathSeparatorText) + levels[i];
    if (unzOpenCurrentFilePassword(archive, extraction.password) != UNZ_OK) return false;
    EntryTimes times;
    times.modification = times.access = LocalDosTime(info.tmu_date);
    ApplyExtendedTimestamp(centralExtra, times);
    return WriteEntryFile(archive, info, path, attributes, times);
}

bool ExtractArchive(Extraction& extraction) {
    std::string& base = extraction.base;
    if (base.empty() || extraction.archive.empty() || !platform::Exists(extraction.archive)) return false;
    if (std::strchr(platform::kPathSeparators, base.back()) == nullptr) base += platform::kPathSeparator;
    if (!platform::IsDirectory(base) && !CreateDirTree(base)) return false;

    const Archive zip(unzOpen64(extraction.archive.c_str()));
    if (!zip) return false;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) return false;
    for (ZPOS64_T entry = 0; entry < global.number_entry; ++entry) {
        if (entry > 0 && unzGoToNextFile(zip.get()) != UNZ_OK) return false;
        if (!ExtractEntry(zip.get(), extraction)) return false;
        LM_KILL_POINT("unzip.entry");
    }
    return true;
}

}  // namespace

bool Unzip(const std::wstring& archive, const std::wstring& destination, const std::string& password) {
    if (destination.empty() || archive.empty()) return false;
    const auto archivePath = NativePath(archive);
    const auto destinationPath = NativePath(destination);
    if (!archivePath || !destinationPath) return false;
    Extraction extraction{*archivePath, *destinationPath, password.empty() ? nullptr : password.c_str(), std::nullopt};
    return ExtractArchive(extraction);
}

bool UnzipPackage(const std::string& archive, const std::string& destination) {
    // Paths are native text already: no conversion, so every name the file system takes works.
    std::string topFolder = archive.substr(archive.find_last_of(platform::kPathSeparators) + 1);
    const std::string extension = ".zip";
    if (topFolder.size() > extension.size() && topFolder.compare(topFolder.size() - extension.size(), extension.size(), extension) == 0) {
        topFolder.erase(topFolder.size() - extension.size());
    }
    Extraction extraction{archive, destination, nullptr, topFolder};
    return ExtractArchive(extraction);
}

}  // namespace LiveModule
