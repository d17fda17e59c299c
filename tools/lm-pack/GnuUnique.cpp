#include "GnuUnique.h"

#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace LiveModule::pack {

namespace {

// A copy of a T at `offset`, when the whole of it lies inside the data.
template <typename T>
bool ReadAt(const std::string& data, uint64_t offset, T& value) {
    if (offset > data.size() || data.size() - offset < sizeof(T)) return false;
    std::memcpy(&value, data.data() + offset, sizeof(T));
    return true;
}

}  // namespace

std::vector<std::string> GnuUniqueSymbols(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    Elf64_Ehdr header;
    if (!ReadAt(data, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr)) {
        return names;
    }
    for (uint16_t index = 0; index < header.e_shnum; ++index) {
        Elf64_Shdr symbols, strings;
        if (!ReadAt(data, header.e_shoff + uint64_t{index} * sizeof(Elf64_Shdr), symbols)) break;
        if (symbols.sh_type != SHT_DYNSYM || symbols.sh_entsize != sizeof(Elf64_Sym)) continue;
        if (!ReadAt(data, header.e_shoff + uint64_t{symbols.sh_link} * sizeof(Elf64_Shdr), strings)) break;
        for (uint64_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            if (!ReadAt(data, symbols.sh_offset + at, symbol)) break;
            if (ELF64_ST_BIND(symbol.st_info) != STB_GNU_UNIQUE || symbol.st_shndx == SHN_UNDEF) continue;
            const uint64_t name = strings.sh_offset + symbol.st_name;
            if (symbol.st_name >= strings.sh_size || name >= data.size()) continue;
            names.emplace_back(data.c_str() + name, strnlen(data.c_str() + name, data.size() - name));
        }
    }
    return names;
}

}  // namespace LiveModule::pack
