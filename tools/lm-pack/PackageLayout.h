#pragma once

#include <string>
#include <vector>

#include "Findings.h"
#include "PackOptions.h"
#include "PackageTree.h"

namespace LiveModule::pack {

struct LibraryFile {
    std::string relative;  // "64bit/<id>_<tag>.so"
    std::string path;
    std::string tag;
};

// What the package is, as far as the host will see it.
struct PackagePlan {
    std::string folderName;  // the top folder's name in the zip
    std::string id;          // the module id the package must carry
    bool webPlugin = false;
    std::vector<LibraryFile> libraries;  // to load and check, one per tag found
};

// A name the host can use as one folder level.
bool IsUsableModuleName(const std::string& name);

// Checks the folder's name against the id. False when the id is unusable, so nothing further can
// be checked.
bool CheckNames(const PackOptions& options, PackagePlan& plan, Findings& findings);

// Checks the web plug-in marker or the 64bit libraries and picks the libraries to load.
void CheckLayout(const std::vector<TreeEntry>& tree, const std::vector<std::string>& tags, PackagePlan& plan,
                 Findings& findings);

}  // namespace LiveModule::pack
