#include "FileUtils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/VersionResource.h"
#include "platform/PathStyle.h"

namespace LiveModule {
namespace {

std::string Join(const std::string& directory, const std::string& name) {
    return directory + platform::kPathSeparator + name;
}

bool IsSeparator(char c) {
    return std::strchr(platform::kPathSeparators, c) != nullptr;
}

// The path without trailing separators: with one, the system resolves a final link instead of
// naming it. On Windows a drive's root keeps its separator: "C:" alone names another folder.
std::string WithoutTrailingSlash(std::string path) {
    const bool drives = platform::kPathSeparator != '/';
    while (path.size() > 1 && IsSeparator(path.back()) && !(drives && path[path.size() - 2] == ':')) path.pop_back();
    return path;
}

bool IsDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

bool IsHexText(const std::string& text) {
    return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// The sub-block "llllcccc\" of the first translation entry: language, then code page, each as
// four lower-case hex digits. Empty when the resource has no usable translation.
std::string TranslationSubBlock(const std::map<std::string, std::string>& values) {
    const auto translation = values.find("\\VarFileInfo\\Translation");
    if (translation == values.end() || translation->second.size() < 8) return {};
    const std::string language = translation->second.substr(0, 4);
    const std::string codePage = translation->second.substr(4, 4);
    if (!IsHexText(language) || !IsHexText(codePage)) return {};
    char subBlock[16];
    std::snprintf(subBlock, sizeof subBlock, "%04lx%04lx\\", std::strtoul(language.c_str(), nullptr, 16),
                  std::strtoul(codePage.c_str(), nullptr, 16));
    return subBlock;
}

}  // namespace

bool CreateDir(const std::string& path) {
    return platform::MakeDirectory(path);
}

void CreateDirIfMissing(const std::string& path) {
    if (!path.empty() && !PathExists(path)) CreateDir(path);
}

bool CreateDirTree(const std::string& path) {
    if (path.empty()) return false;
    for (std::size_t slash = path.find_first_of(platform::kPathSeparators, 1); slash != std::string::npos;
         slash = path.find_first_of(platform::kPathSeparators, slash + 1)) {
        platform::MakeDirectory(path.substr(0, slash));
    }
    platform::MakeDirectory(path);
    return platform::IsDirectory(path);
}

bool PathExists(const std::string& path) {
    return platform::Exists(path);
}

bool CopyDir(const std::string& src, const std::string& dst, bool overwrite) {
    // A link where the destination folder belongs would take the copy elsewhere: with overwrite it
    // gives way to a real folder, without it the folder cannot be made.
    const std::string folder = WithoutTrailingSlash(dst);
    if (platform::IsLink(folder) && (!overwrite || !platform::RemoveFile(folder))) return false;
    if (!platform::Exists(dst) && !platform::MakeDirectory(dst)) return false;
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(src, entries)) return false;
    bool ok = true;
    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory) {
            ok = platform::CopySingleFile(Join(src, entry.name), Join(dst, entry.name), !overwrite) && ok;
        } else if (!IsDotEntry(entry.name)) {
            ok = CopyDir(Join(src, entry.name), Join(dst, entry.name), overwrite) && ok;
        }
    }
    return ok;
}

bool DeleteDir(const std::string& path) {
    const std::string folder = WithoutTrailingSlash(path);
    // A link is removed itself, also at the top: its target belongs to someone else.
    if (platform::IsLink(folder)) return platform::RemoveFile(folder);
    if (!platform::Exists(folder)) return true;
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(folder, entries, platform::AtLink::Refuse)) return false;
    bool ok = true;
    for (const platform::DirEntry& entry : entries) {
        if (!entry.isDirectory) {
            // unlink needs no write bit on the file itself, so read-only files go too.
            ok = platform::RemoveFile(Join(folder, entry.name)) && ok;
        } else if (!IsDotEntry(entry.name)) {
            ok = DeleteDir(Join(folder, entry.name)) && ok;
        }
    }
    return platform::RemoveEmptyDirectory(folder) && ok;
}

std::string GetFileProductVersion(const std::string& path) {
    std::map<std::string, std::string> values;
    if (!platform::ReadVersionResource(path, values)) return {};
    const std::string subBlock = TranslationSubBlock(values);
    // Without a sub-block the key names no string table, so nothing can be found.
    if (subBlock.empty()) return {};
    const auto version = values.find("\\StringFileInfo\\" + subBlock + "ProductVersion");
    return version == values.end() ? std::string() : version->second;
}

}  // namespace LiveModule
