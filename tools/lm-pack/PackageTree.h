#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "Findings.h"

namespace LiveModule::pack {

// One file or folder of a package, as it goes into the zip.
struct TreeEntry {
    std::string relative;  // below the package folder, "/"-separated; folders below it end with "/"
    std::string path;      // on disk
    struct stat info{};    // of the file itself; for a link, of what it points to
};

// The package folder itself (with an empty relative name), then every file and folder below it,
// parents before their contents, names in byte order. A link
// to a file stands for that file (the host's extractor refuses links); links to folders, dangling
// links, other kinds of files and names that are not UTF-8 are problems.
std::vector<TreeEntry> ListPackageTree(const std::string& folder, Findings& findings);

}  // namespace LiveModule::pack
