#include "platform/FileSystem.h"

#include <io.h>
#include <windows.h>

#include "platform/win32/SystemErrorText.h"

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

bool ListDirectory(const std::string& path, std::vector<DirEntry>& entries, AtLink atLink) {
    entries.clear();
    // Checked before the search opens: Windows has no open-and-check in one step for a folder.
    if (atLink == AtLink::Refuse && IsLink(path)) return false;
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

bool MovePath(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING an existing target fails the move.
    return ::MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
}

// Windows has no exchange of two names: the second is moved aside (beside the first, so on its
// volume), the first takes its name, and what was moved aside takes the first's name. Between
// the first two moves the second name is missing; a failed second move puts the old one back.
bool ExchangePaths(const std::string& first, const std::string& second) {
    const std::string aside = first + ".aside";
    if (Exists(aside) || IsLink(aside)) return false;
    if (!::MoveFileExA(second.c_str(), aside.c_str(), 0)) return false;
    if (!::MoveFileExA(first.c_str(), second.c_str(), 0)) {
        ::MoveFileExA(aside.c_str(), second.c_str(), 0);
        return false;
    }
    // The exchange has happened; a failure here only leaves the old one under the aside name.
    ::MoveFileExA(aside.c_str(), first.c_str(), 0);
    return true;
}

bool RenameFolder(const std::string& from, const std::string& to, std::string* errorText) {
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    if (errorText) *errorText = SystemErrorText(::GetLastError());
    return false;
}

namespace {

// FlushFileBuffers needs a handle with write access; a folder opens only with backup semantics.
void FlushOne(const std::string& path, bool folder) {
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return;
    ::FlushFileBuffers(handle);
    ::CloseHandle(handle);
}

}  // namespace

void FlushFolderTree(const std::string& folder) {
    std::vector<DirEntry> entries;
    if (!ListDirectory(folder, entries, AtLink::Refuse)) return;
    for (const DirEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        const std::string path = folder + "\\" + entry.name;
        if (entry.isDirectory) FlushFolderTree(path);
        else if (entry.isRegularFile) FlushOne(path, false);
    }
    FlushOne(folder, true);
}

void FlushFolderEntries(const std::string& folder) {
    // NTFS flushes a folder's index through a handle to the folder; other file systems may refuse.
    FlushOne(folder, true);
}

// Windows attributes know only read-only: clearing the owner's write bit sets it on a file. Other
// bits (group, others, execute) have no counterpart, and a folder's read-only flag means something
// else to Explorer, so they change nothing.
bool ClearPermissionBits(const std::string& path, unsigned bits) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == kNoAttributes) return false;
    if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return true;
    if ((bits & 0200u) == 0 || (attributes & FILE_ATTRIBUTE_READONLY) != 0) return true;
    return ::SetFileAttributesA(path.c_str(), attributes | FILE_ATTRIBUTE_READONLY) != 0;
}

// Windows has no file-creation mask.
unsigned ProcessUmask() {
    return 0;
}

}  // namespace LiveModule::platform
