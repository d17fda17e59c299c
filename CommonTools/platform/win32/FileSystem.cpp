#include "platform/FileSystem.h"

#include <io.h>
#include <windows.h>

namespace LiveModule::platform {

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

DWORD AttributesOf(const std::string& path) {
    return ::GetFileAttributesA(path.c_str());
}

}  // namespace

bool MakeDirectory(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool Exists(const std::string& path) {
    return _access(path.c_str(), 0) == 0;
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A reparse point stands for links: symbolic links and directory junctions.
bool IsLink(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool ListDirectory(const std::string& path, std::vector<DirEntry>& entries) {
    entries.clear();
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const DWORD attributes = found.dwFileAttributes;
        // Only a real directory counts as one, so the tree walks never pass through a link.
        const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool device = (attributes & FILE_ATTRIBUTE_DEVICE) != 0;
        entries.push_back({found.cFileName, directory && !link, !directory && !link && !device});
    } while (::FindNextFileA(search, &found));
    const bool complete = ::GetLastError() == ERROR_NO_MORE_FILES;
    ::FindClose(search);
    return complete;
}

bool CopySingleFile(const std::string& from, const std::string& to, bool failIfExists) {
    // Content, attributes and times; a copy onto the file itself fails on the sharing check.
    return ::CopyFileA(from.c_str(), to.c_str(), failIfExists ? TRUE : FALSE) != 0;
}

bool RemoveFile(const std::string& path) {
    // A link is removed itself. A read-only file cannot be deleted, as on Windows anywhere.
    return ::DeleteFileA(path.c_str()) != 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
    return ::RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace LiveModule::platform
