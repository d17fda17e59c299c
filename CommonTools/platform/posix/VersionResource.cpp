#include "platform/VersionResource.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>

// Linux executables carry their version resource in an ELF note (see platform/VersionNote.h):
// section ".note.livemodule.version", owner "LiveModule", type 1, descriptor a sequence of
// NUL-terminated "key=value" strings. Every offset and size in the file is checked against the
// file before it is used.
namespace LiveModule::platform {
namespace {

constexpr char kSectionName[] = ".note.livemodule.version";
constexpr char kOwner[] = "LiveModule";
constexpr uint32_t kNoteType = 1;
// A version note is a few hundred bytes; anything far bigger is not one.
constexpr uint64_t kMaxSectionSize = 1 << 20;

class File {
public:
    explicit File(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) {
        struct stat info;
        if (fd_ >= 0 && fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) size_ = static_cast<uint64_t>(info.st_size);
    }
    ~File() {
        if (fd_ >= 0) close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Whether `size` bytes at `base` + `offset` lie inside the file.
    bool Contains(uint64_t base, uint64_t offset, uint64_t size) const {
        uint64_t start = 0;
        uint64_t end = 0;
        return !__builtin_add_overflow(base, offset, &start) && !__builtin_add_overflow(start, size, &end) &&
               end <= size_;
    }

    // Reads exactly `size` bytes at `base` + `offset`; false for any range not inside the file.
    bool ReadAt(uint64_t base, uint64_t offset, void* data, uint64_t size) const {
        if (!Contains(base, offset, size)) return false;
        uint64_t start = base + offset;
        auto* out = static_cast<char*>(data);
        while (size > 0) {
            const ssize_t got = pread(fd_, out, size, static_cast<off_t>(start));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            out += got;
            start += static_cast<uint64_t>(got);
            size -= static_cast<uint64_t>(got);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_ = 0;  // stays 0 unless the file is a readable regular file
};

// Finds the note section through the section headers and reads it whole.
template <typename Ehdr, typename Shdr>
bool ReadNoteSection(const File& file, std::string& section, uint64_t& alignment) {
    Ehdr header;
    if (!file.ReadAt(0, 0, &header, sizeof header)) return false;
    // Extended section numbering (more than 0xff00 sections) is not supported.
    if (header.e_shentsize < sizeof(Shdr) || header.e_shstrndx >= header.e_shnum ||
        !file.Contains(header.e_shoff, 0, uint64_t{header.e_shnum} * header.e_shentsize)) {
        return false;
    }
    const auto readHeader = [&](uint64_t index, Shdr& out) {
        return file.ReadAt(header.e_shoff, index * header.e_shentsize, &out, sizeof out);
    };
    Shdr names;
    if (!readHeader(header.e_shstrndx, names)) return false;
    for (uint64_t index = 0; index < header.e_shnum; ++index) {
        Shdr candidate;
        if (!readHeader(index, candidate)) return false;
        char name[sizeof kSectionName];
        if (candidate.sh_type != SHT_NOTE || candidate.sh_name >= names.sh_size ||
            names.sh_size - candidate.sh_name < sizeof name ||
            !file.ReadAt(names.sh_offset, candidate.sh_name, name, sizeof name) ||
            std::memcmp(name, kSectionName, sizeof name) != 0) {
            continue;
        }
        if (candidate.sh_size > kMaxSectionSize) return false;
        section.resize(candidate.sh_size);
        alignment = candidate.sh_addralign == 8 ? 8 : 4;
        return file.ReadAt(candidate.sh_offset, 0, section.data(), section.size());
    }
    return false;
}

// The "key=value" strings of one descriptor. Empty strings (padding) and strings without "="
// are skipped; a string that runs off the end makes the descriptor invalid.
bool ParsePairs(std::string_view descriptor, std::map<std::string, std::string>& values) {
    while (!descriptor.empty()) {
        const auto end = descriptor.find('\0');
        if (end == std::string_view::npos) return false;
        const std::string_view item = descriptor.substr(0, end);
        descriptor.remove_prefix(end + 1);
        const auto equals = item.find('=');
        if (equals != std::string_view::npos) {
            values.emplace(std::string(item.substr(0, equals)), std::string(item.substr(equals + 1)));
        }
    }
    return true;
}

// Walks the notes of the section; pairs of later notes do not replace earlier ones.
bool ParseNotes(std::string_view section, uint64_t alignment, std::map<std::string, std::string>& values) {
    const auto padded = [alignment](uint64_t size) { return (size + alignment - 1) / alignment * alignment; };
    bool found = false;
    while (section.size() >= sizeof(Elf64_Nhdr)) {  // same layout for 32- and 64-bit files
        Elf64_Nhdr note;
        std::memcpy(&note, section.data(), sizeof note);
        section.remove_prefix(sizeof note);
        if (padded(note.n_namesz) > section.size()) return false;
        const std::string_view owner = section.substr(0, note.n_namesz);
        section.remove_prefix(padded(note.n_namesz));
        if (note.n_descsz > section.size()) return false;
        const std::string_view descriptor = section.substr(0, note.n_descsz);
        section.remove_prefix(std::min<uint64_t>(padded(note.n_descsz), section.size()));
        if (note.n_type != kNoteType || owner != std::string_view(kOwner, sizeof kOwner)) continue;
        if (!ParsePairs(descriptor, values)) return false;
        found = true;
    }
    return found;
}

}  // namespace

bool ReadVersionResource(const std::string& path, std::map<std::string, std::string>& values) {
    values.clear();
    const File file(path);
    unsigned char ident[EI_NIDENT];
    if (!file.ReadAt(0, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0) return false;
    // Only files in this machine's byte order: those are the ones it can load.
    constexpr unsigned char kNativeData = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? ELFDATA2LSB : ELFDATA2MSB;
    if (ident[EI_DATA] != kNativeData) return false;
    std::string section;
    uint64_t alignment = 4;
    bool read = false;
    if (ident[EI_CLASS] == ELFCLASS64) {
        read = ReadNoteSection<Elf64_Ehdr, Elf64_Shdr>(file, section, alignment);
    } else if (ident[EI_CLASS] == ELFCLASS32) {
        read = ReadNoteSection<Elf32_Ehdr, Elf32_Shdr>(file, section, alignment);
    }
    if (read && ParseNotes(section, alignment, values)) return true;
    values.clear();
    return false;
}

}  // namespace LiveModule::platform
