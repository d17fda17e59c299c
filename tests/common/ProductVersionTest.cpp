#include <gtest/gtest.h>

#include <elf.h>

#include <cstddef>
#include <cstring>

#include "FileUtils.h"
#include "TempFolder.h"

using LiveModule::GetFileProductVersion;

namespace {

template <typename T>
std::string Poke(std::string bytes, std::size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
}

std::string Replace(std::string bytes, const std::string& from, const std::string& to) {
    return bytes.replace(bytes.find(from), from.size(), to);
}

}  // namespace

TEST(GetFileProductVersion, ReadsTheNoteOfABuiltProgramOnly) {
    EXPECT_EQ(GetFileProductVersion(VERSION_NOTE_SAMPLE), "30.0.0");
    TempFolder folder;
    WriteFile(folder / "text", "not a program");
    EXPECT_EQ(GetFileProductVersion("/proc/self/exe"), "");  // an ELF file without the note
    EXPECT_EQ(GetFileProductVersion(folder / "text"), "");
    EXPECT_EQ(GetFileProductVersion(folder / "missing"), "");
    EXPECT_EQ(GetFileProductVersion(folder.path()), "");
}

TEST(GetFileProductVersion, DamagedFilesAndMissingTranslationsGiveEmptyText) {
    const std::string sample = ReadFile(VERSION_NOTE_SAMPLE);
    const std::size_t note = sample.find(std::string("\1\0\0\0LiveModule\0", 15)) - 8;
    const std::size_t descriptorEnd = sample.find("ProductVersion=30.0.0") + 22;
    ASSERT_LT(note, sample.size());
    Elf64_Ehdr header;
    std::memcpy(&header, sample.data(), sizeof header);
    TempFolder folder;
    const auto versionOf = [&folder](const std::string& bytes) {
        WriteFile(folder / "program", bytes);
        return GetFileProductVersion(folder / "program");
    };
    ASSERT_EQ(versionOf(sample), "30.0.0");
    EXPECT_EQ(versionOf(Replace(sample, "Translation=040904b0", "Translation=040904B0")), "30.0.0");
    EXPECT_EQ(versionOf(Replace(sample, "Translation=040904b0", "Translation=080404b0")), "");
    EXPECT_EQ(versionOf(Replace(sample, "\\Translation=", "\\Translatio_=")), "");

    for (const std::size_t length : {std::size_t{0}, std::size_t{20}, note + 8, descriptorEnd - 1,
                                     std::size_t(header.e_shoff) + 100, sample.size() - 1}) {
        EXPECT_EQ(versionOf(sample.substr(0, length)), "") << "cut at " << length;
    }
    const std::string lies[] = {
        Poke<uint64_t>(sample, offsetof(Elf64_Ehdr, e_shoff), ~uint64_t{0} - 8),
        Poke<uint16_t>(sample, offsetof(Elf64_Ehdr, e_shnum), 0xFFFF),
        Poke<uint16_t>(sample, offsetof(Elf64_Ehdr, e_shentsize), 8),
        Poke<uint32_t>(sample, note, 0xFFFFFFFF),      // owner name size
        Poke<uint32_t>(sample, note + 4, 0xFFFFFFFC),  // descriptor size
        Poke<char>(sample, descriptorEnd - 1, 'x'),    // the last string loses its NUL
        Poke<char>(sample, EI_DATA, ELFDATA2MSB),
    };
    for (std::size_t i = 0; i < std::size(lies); ++i) EXPECT_EQ(versionOf(lies[i]), "") << "lie " << i;
}
