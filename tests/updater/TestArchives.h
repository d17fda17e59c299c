#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

// Zip archives written with minizip's zip.h (any name, host, attributes, damaged data), and the trees they give.
namespace lmtest {

// How an entry's stored data disagrees with what its headers declare.
enum class Damage {
    None,
    BadCrc,        // stored, with a CRC that does not match its data
    EndsEarly,     // deflated data that ends halfway; size and CRC are those of the whole data
    SizeTooLarge,  // deflated, with a declared size beyond its data (the CRC matches the data)
    SizeTooSmall,  // deflated, with a declared size short of its data (the CRC is the whole data's)
};

struct ZipEntry {
    ZipEntry(std::string name, std::string data = "data", unsigned long dosAttributes = 0, Damage damage = Damage::None)
        : name(std::move(name)), data(std::move(data)), externalAttributes(dosAttributes), damage(damage) {}
    std::string name, data;
    unsigned long externalAttributes;  // the DOS byte low, a Unix st_mode in the high 16 bits
    Damage damage;
    unsigned long versionMadeBy = 0;   // the host system in the high byte: 0 DOS, 3 Unix
};

// An entry made on a Unix host with the given st_mode (type and permission bits).
ZipEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode);

// Bytes deflate cannot shrink (xorshift), so a package of them is as large as its files.
std::string Incompressible(size_t size);

// Writes the archive, every entry dated 2021-06-15 12:34:56; the test fails when minizip refuses.
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// The path the product's file calls name with `path`: narrow paths are the system's native text
// (Windows: the ANSI code page, where std::filesystem would read UTF-8).
std::filesystem::path PathOf(const std::string& path);

// Every path under `root` (links not followed), relative to it, with "/" between levels; folders end with "/".
std::set<std::string> Tree(const std::string& root);

// What a catalogue entry vouches with: the lowercase hex SHA-256 of `bytes`, its Ed25519 signature by
// tests/keys/<key>.key in base64 (throws when it cannot sign), and base64 of any bytes.
std::string Sha256Hex(const std::string& bytes);
std::string Sign(const std::string& bytes, const std::string& key);
std::string Base64(const std::string& bytes);

}  // namespace lmtest
