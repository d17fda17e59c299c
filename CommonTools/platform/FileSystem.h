#pragma once

#include <string>
#include <vector>

// The file-system primitives the file helpers are built from. Paths are narrow ANSI text and are
// passed on as given. No call throws; each reports failure as false.
namespace LiveModule::platform {

struct DirEntry {
    std::string name;
    bool isDirectory;    // a real directory; false for a link, even one to a directory
    bool isRegularFile;  // a plain file; false for a link, a directory or a device
};

// Creates the last component of `path` only. False if it exists or its parent is missing.
bool MakeDirectory(const std::string& path);

// True when something exists at `path`.
bool Exists(const std::string& path);

// True when `path` is a directory, or a link that leads to one.
bool IsDirectory(const std::string& path);

// True when `path` itself is a symbolic link, whatever it points at.
bool IsLink(const std::string& path);

// What ListDirectory does when `path` itself is a link.
enum class AtLink { Follow, Refuse };

// The entries of a directory, "." and ".." included, in the order the file system gives them.
bool ListDirectory(const std::string& path, std::vector<DirEntry>& entries, AtLink atLink = AtLink::Follow);

// Copies one file's content, permission bits and modification time. With `failIfExists` an
// existing destination makes it fail; otherwise the destination is replaced. A destination that is
// a link (symbolic or hard) is replaced by a file of its own, so nothing is written through it.
bool CopySingleFile(const std::string& from, const std::string& to, bool failIfExists);

// Removes one file; a link is removed itself, never its target.
bool RemoveFile(const std::string& path);

bool RemoveEmptyDirectory(const std::string& path);

// Gives `from` the name `to` on the same file system; fails when something exists at `to`.
bool MovePath(const std::string& from, const std::string& to);

// Swaps what two existing names refer to. Linux: in one step, no moment exists at which either name
// is missing or refers to a mix; false (nothing changed) when the file system cannot do that.
// Windows: by renames, with a window in which `second` is missing (see the win32 file).
bool ExchangePaths(const std::string& first, const std::string& second);

// Renames a folder (or a file) within one volume as a step a crash must not undo. Linux: rename(2),
// which also replaces an empty folder at `to`; Windows: MoveFileExA with MOVEFILE_WRITE_THROUGH, so
// the rename is on the disk when the call returns, and anything at `to` fails it. On failure the
// system's text for the error goes into errorText. Windows cannot rename a folder while a file in
// it is open without sharing deletion, which a loaded DLL is: release libraries first.
bool RenameFolder(const std::string& from, const std::string& to, std::string* errorText = nullptr);

// Makes the files written below `folder` reach the disk before a later step relies on them, so a
// power cut leaves what a kill would. Linux: syncfs on the folder's file system (everything on it);
// Windows: FlushFileBuffers on every file below `folder`. Best effort: nothing is reported.
void FlushFolderTree(const std::string& folder);

// Makes the renames and removals of entries in `folder` reach the disk. Linux: syncfs on the
// folder's file system; Windows: FlushFileBuffers on the folder itself, where the file system allows
// it (renames by RenameFolder are written through already). Best effort: nothing is reported.
void FlushFolderEntries(const std::string& folder);

// Clears the given permission bits of a file or folder; a link is left as it is.
bool ClearPermissionBits(const std::string& path, unsigned bits);

// The process's file-creation mask, read without changing it (other threads may create files);
// 0 on Windows, which has none.
unsigned ProcessUmask();

}  // namespace LiveModule::platform
