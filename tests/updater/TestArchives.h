#pragma once

#include <set>
#include <string>
#include <vector>

// Zip archives written with minizip's zip.h (any name, host, attributes, damaged data), and the trees they give.
namespace lmtest {

struct ZipEntry {
    ZipEntry(std::string name, std::string data = "data", unsigned long dosAttributes = 0, bool damaged = false)
        : name(std::move(name)), data(std::move(data)), externalAttributes(dosAttributes), damaged(damaged) {}
    std::string name, data;
    unsigned long externalAttributes;  // the DOS byte low, a Unix st_mode in the high 16 bits
    bool damaged;                      // stored with a CRC that does not match its data
    unsigned long versionMadeBy = 0;   // the host system in the high byte: 0 DOS, 3 Unix
};

// An entry made on a Unix host with the given st_mode (type and permission bits).
ZipEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode);

// Writes the archive, every entry dated 2021-06-15 12:34:56; the test fails when minizip refuses.
void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// Every path under `root` (links not followed), relative to it; folders end with "/".
std::set<std::string> Tree(const std::string& root);

}  // namespace lmtest
