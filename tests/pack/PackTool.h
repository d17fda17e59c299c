#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The built lm-pack run as a separate program, module packages laid out from the test tree's real
// module builds, and zips read back with minizip's unzip layer.
namespace lmtest {

struct ToolRun {
    int exitCode = -1;
    std::string out, err;
};

// Runs lm-pack with the arguments in `workingDir`.
ToolRun RunLmPack(const std::vector<std::string>& arguments, const std::string& workingDir = ".");

// Lays out <parent>/<folder>/64bit/<id>_<tag>.so as a copy of the built test module variant.
void AddLibrary(const std::string& package, const std::string& id, const std::string& tag, const std::string& variant);

struct ZipItem {
    std::string name, data;
    unsigned hostSystem = 0;  // high byte of "version made by"
    unsigned mode = 0;        // the Unix st_mode in the high half of the external attributes
    int method = -1;
};

// Every entry of the zip, in archive order; the test fails when minizip cannot read it.
std::vector<ZipItem> ReadZip(const std::string& path);

// Every file and folder below `root` (links followed to files) as "<prefix>/<relative>", folders
// ending with "/", the root itself included as "<prefix>/".
std::vector<std::string> ExpectedEntries(const std::string& root, const std::string& prefix);

}  // namespace lmtest
