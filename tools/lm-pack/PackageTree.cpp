#include "PackageTree.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace LiveModule::pack {

namespace {

bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xe ? 3 : (lead >> 3) == 0x1e ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

std::vector<std::string> SortedNames(const std::string& folder, Findings& findings, const std::string& shown) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        findings.Problem("cannot read the folder " + shown + ": " + std::strerror(errno));
        return names;
    }
    while (const dirent* item = readdir(dir)) {
        const std::string name = item->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void Walk(const std::string& folder, const std::string& relative, std::vector<TreeEntry>& entries, Findings& findings) {
    for (const std::string& name : SortedNames(folder, findings, relative.empty() ? "." : relative)) {
        TreeEntry entry;
        entry.path = folder + "/" + name;
        entry.relative = relative + name;
        if (!IsUtf8(name)) {
            findings.Problem(entry.relative + ": the name is not UTF-8 text, which is how the host reads names in a package");
            continue;
        }
        struct stat own {};
        if (lstat(entry.path.c_str(), &own) != 0) {
            findings.Problem(entry.relative + ": " + std::strerror(errno));
            continue;
        }
        const bool link = S_ISLNK(own.st_mode);
        if (link && stat(entry.path.c_str(), &entry.info) != 0) {
            findings.Problem(entry.relative + ": a link whose target is missing");
            continue;
        }
        if (!link) entry.info = own;
        if (S_ISDIR(entry.info.st_mode)) {
            if (link) {
                findings.Problem(entry.relative + ": a link to a folder; the host does not unpack links, put the folder itself there");
                continue;
            }
            entry.relative += "/";
            entries.push_back(entry);
            Walk(entry.path, entry.relative, entries, findings);
        } else if (S_ISREG(entry.info.st_mode)) {
            entries.push_back(entry);
        } else {
            findings.Problem(entry.relative + ": neither a file nor a folder");
        }
    }
}

}  // namespace

std::vector<TreeEntry> ListPackageTree(const std::string& folder, Findings& findings) {
    std::vector<TreeEntry> entries;
    TreeEntry root;
    root.path = folder;
    if (stat(folder.c_str(), &root.info) != 0 || !S_ISDIR(root.info.st_mode)) {
        findings.Problem(folder + " is not a folder");
        return entries;
    }
    entries.push_back(root);
    Walk(folder, "", entries, findings);
    return entries;
}

}  // namespace LiveModule::pack
