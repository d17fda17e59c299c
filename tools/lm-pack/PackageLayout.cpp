#include "PackageLayout.h"

#include <algorithm>
#include <regex>

namespace LiveModule::pack {

namespace {

constexpr const char* kFactoryPackage = "LiveModuleFactory";

std::string LastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path == "/") return "";
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

const TreeEntry* Find(const std::vector<TreeEntry>& tree, const std::string& relative) {
    for (const TreeEntry& entry : tree) {
        if (entry.relative == relative) return &entry;
    }
    return nullptr;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// "<name>_<tag>.so" where the tag is a Qt tag of four numbers or one of the given tags.
bool SplitLibraryName(const std::string& file, const std::vector<std::string>& tags, std::string& name, std::string& tag) {
    for (const std::string& given : tags) {
        const std::string suffix = "_" + given + ".so";
        if (file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0) {
            name = file.substr(0, file.size() - suffix.size());
            tag = given;
            return true;
        }
    }
    static const std::regex shape("(.+)_([0-9]+_[0-9]+_[0-9]+_[0-9]+)\\.so");
    std::smatch match;
    if (!std::regex_match(file, match, shape)) return false;
    name = match[1];
    tag = match[2];
    return true;
}

}  // namespace

bool IsUsableModuleName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

bool CheckNames(const PackOptions& options, PackagePlan& plan, Findings& findings) {
    const std::string rule = " is no usable module name (it must not be empty, \".\" or \"..\", nor hold / or \\)";
    plan.folderName = LastComponent(options.folder);
    plan.id = options.id ? *options.id : plan.folderName;
    const bool folderUsable = IsUsableModuleName(plan.folderName);
    const bool idUsable = IsUsableModuleName(plan.id);
    if (!folderUsable) {
        findings.Problem("wrong top folder name: '" + plan.folderName + "'" + rule +
                         "; give the package folder by a path that ends in its name, such as packages/<id>");
    }
    if (options.id && !idUsable) findings.Problem("the id '" + plan.id + "'" + rule);
    if (folderUsable && idUsable && plan.folderName != plan.id) {
        findings.Problem("wrong top folder name: the folder is named '" + plan.folderName + "' but the module id is '" +
                         plan.id + "'; the host looks for a module in the folder named after its id");
    }
    if (plan.id == kFactoryPackage) {
        findings.Problem(std::string(kFactoryPackage) + " is the factory's own package; the host never loads a module of that name");
    }
    return idUsable;
}

void CheckLayout(const std::vector<TreeEntry>& tree, const std::vector<std::string>& tags, PackagePlan& plan,
                 Findings& findings) {
    const TreeEntry* marker = Find(tree, plan.id + ".webdll");
    plan.webPlugin = marker && S_ISREG(marker->info.st_mode);

    std::vector<std::string> missing, missingTags;
    for (const std::string& tag : tags) {
        LibraryFile library{"64bit/" + plan.id + "_" + tag + ".so", "", tag};
        const TreeEntry* found = Find(tree, library.relative);
        if (!found) {
            missing.push_back(library.relative);
            missingTags.push_back(tag);
            continue;
        }
        library.path = found->path;
        plan.libraries.push_back(library);
    }

    if (plan.webPlugin) {
        if (!plan.libraries.empty()) {
            findings.Note("a web plug-in package (" + plan.id + ".webdll): the host moves it under WebPlugins and loads none of its libraries");
        }
        plan.libraries.clear();
        return;
    }
    if (!Find(tree, "64bit/")) {
        findings.Problem("no 64bit folder: a module package keeps its libraries as 64bit/" + plan.id +
                         "_<tag>.so (a web plug-in package holds " + plan.id + ".webdll instead)");
    } else if (plan.libraries.empty()) {
        findings.Problem("no library for any tag: expected at least one of " + Joined(missing));
    } else {
        for (size_t i = 0; i < missing.size(); ++i) {
            findings.Note("no build for tag " + missingTags[i] + ": " + missing[i] + " is missing");
        }
    }

    for (const TreeEntry& entry : tree) {
        if (entry.relative.rfind("64bit/", 0) != 0 || S_ISDIR(entry.info.st_mode)) continue;
        const std::string file = entry.relative.substr(6);
        std::string name, tag;
        if (file.find('/') != std::string::npos || !SplitLibraryName(file, tags, name, tag)) continue;
        if (name != plan.id) {
            findings.Note(entry.relative + " is named for another module id ('" + name + "'); the host only loads 64bit/" +
                          plan.id + "_<tag>.so from this package");
        } else if (std::find(tags.begin(), tags.end(), tag) == tags.end()) {
            findings.Note(entry.relative + " is for tag " + tag + ", which is not among the tags checked (--tags), so it was not loaded");
        }
    }
}

}  // namespace LiveModule::pack
