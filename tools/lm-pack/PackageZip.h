#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PackageTree.h"

namespace LiveModule::pack {

struct ZipSummary {
    size_t entries = 0;
    uintmax_t bytes = 0;
};

// Writes the package tree (as ListPackageTree gives it) to `zipPath` with every entry under "<top>/",
// folders included, made on Unix with their permission bits, files deflated. The zip appears under
// its name only when complete.
bool WritePackageZip(const std::vector<TreeEntry>& tree, const std::string& top, const std::string& zipPath,
                     ZipSummary& summary, std::string& error);

}  // namespace LiveModule::pack
