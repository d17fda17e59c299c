#include "updater/ZipExtractor.h"

#include <unzip.h>

#include <ctime>
#include <memory>
#include <optional>
#include <vector>

#include "TextConversion.h"
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

// Creates `folder` (ending with "/") level by level. The levels above the destination may be
// links (a temporary folder often is); only the result has to be a directory.
bool CreateFolderLevels(const std::string& folder) {
    for (std::size_t slash = folder.find_first_of(platform::kPathSeparators, 1); slash != std::string::npos;
         slash = folder.find_first_of(platform::kPathSeparators, slash + 1)) {
        platform::MakeDirectory(folder.substr(0, slash));
    }
    return platform::IsDirectory(folder);
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

// Writes the open entry's data to `path`, then its permissions and times. The CRC is checked when
// the entry is closed, so a damaged entry fails only after all of its data was read.
bool WriteEntryFile(unzFile archive, const std::string& path, const EntryAttributes& attributes, EntryTimes times) {
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
    while (ok) {
        const int got = unzReadCurrentFile(archive, chunk.data(), kChunkSize);
        if (got == 0) break;
        ok = got > 0 && file.Write(chunk.data(), static_cast<std::size_t>(got));
    }
    ok = unzCloseCurrentFile(archive) == UNZ_OK && ok;
    if (ok) {
        // Permissions and times are best effort: some file systems keep neither.
        if (attributes.unixPermissions) {
            file.SetPermissions(*attributes.unixPermissions & (attributes.readOnly ? ~0222u : 0777u));
        } else if (attributes.readOnly) {
            file.RemoveWriteBits();
        }
        file.SetTimes(times.access, times.modification);
    }
    ok = file.Close() && ok;
    if (!ok && created) platform::RemoveFile(path);
    return ok;
}

// Extracts the archive's current entry under `base` (which ends with "/").
bool ExtractEntry(unzFile archive, const std::string& base, const char* password) {
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
    if (directory) return CreateEntryLevels(base, levels, levels.size());
    if (levels.empty() || !CreateEntryLevels(base, levels, levels.size() - 1)) return false;

    std::string path = base;
    for (std::size_t i = 0; i < levels.size(); ++i) path += (i == 0 ? "" : platform::kPathSeparatorText) + levels[i];
    if (unzOpenCurrentFilePassword(archive, password) != UNZ_OK) return false;
    EntryTimes times;
    times.modification = times.access = LocalDosTime(info.tmu_date);
    ApplyExtendedTimestamp(centralExtra, times);
    return WriteEntryFile(archive, path, attributes, times);
}

}  // namespace

bool Unzip(const std::wstring& archive, const std::wstring& destination, const std::string& password) {
    if (destination.empty() || archive.empty()) return false;
    const auto archivePath = NativePath(archive);
    const auto destinationPath = NativePath(destination);
    if (!archivePath || !destinationPath || destinationPath->empty() || !platform::Exists(*archivePath)) return false;

    std::string base = *destinationPath;
    if (base.back() != platform::kPathSeparator) base += platform::kPathSeparator;
    if (!platform::IsDirectory(base) && !CreateFolderLevels(base)) return false;

    const Archive zip(unzOpen64(archivePath->c_str()));
    if (!zip) return false;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip.get(), &global) != UNZ_OK) return false;
    const char* const secret = password.empty() ? nullptr : password.c_str();
    for (ZPOS64_T entry = 0; entry < global.number_entry; ++entry) {
        if (entry > 0 && unzGoToNextFile(zip.get()) != UNZ_OK) return false;
        if (!ExtractEntry(zip.get(), base, secret)) return false;
    }
    return true;
}

bool UnzipPackage(const std::string& archive, const std::string& destination) {
    return Unzip(ChsToWide(archive), ChsToWide(destination), std::string());
}

}  // namespace LiveModule
