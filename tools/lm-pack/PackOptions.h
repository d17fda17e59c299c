#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "HostTags.h"

namespace LiveModule::pack {

// The catalogue entry to add or update. Unset fields keep what an existing entry has, or take
// their defaults in a new one.
struct EntryOptions {
    std::string version;  // "resver"
    std::optional<std::string> name, order, required, appver, base;
};

struct PackOptions {
    std::string folder;
    std::string outDir = ".";
    std::optional<std::string> id;
    std::vector<std::string> tags = DefaultTags();
    std::string manifest;  // empty: no catalogue entry
    std::string tree;      // a static catalogue tree to publish into (CatalogueTree.h); empty: none
    EntryOptions entry;
    std::string signKey;  // private key file; empty: packages are not signed
    std::string makeKey;  // key pair prefix: make a key pair and nothing else
    bool help = false;
};

// Reads the command line. Returns an empty text on success, otherwise what is wrong with it.
std::string ParseOptions(int argc, char** argv, PackOptions& options);

void PrintUsage(std::FILE* to);

}  // namespace LiveModule::pack
