#pragma once

#include <string>

// Directory helpers and the product-version reader. Paths are ANSI text, used as given; child
// paths are joined with "/". Nothing here throws or logs: failures show as false or empty text.
// Two calls working on the same tree at once are not coordinated.
namespace LiveModule {

// Creates the last path component only: false if it exists already or its parent is missing.
bool CreateDir(const std::string& path);

// Creates the last path component when nothing exists at `path` yet; an empty path is left alone.
void CreateDirIfMissing(const std::string& path);

// Creates `path` with every missing level above it; true when it is a directory afterwards.
// Levels that exist may be links to directories.
bool CreateDirTree(const std::string& path);

// True when a file or directory exists at `path`.
bool PathExists(const std::string& path);

// Copies the tree under `src` into `dst`, creating `dst` first if it is missing (even when `src`
// cannot be listed). Without `overwrite` an existing file in `dst` is left as it is and counts as
// a failure. A failed entry does not stop the copy; the result is true only if every entry was
// copied. Links are not copied as links: a link to a file gives a copy of that file, a link to a
// directory is never entered and counts as a failed entry. Nothing is written through a link in
// `dst`: with `overwrite` a link there (to a file or a folder) is replaced by a real one, without it
// the entry fails.
bool CopyDir(const std::string& src, const std::string& dst, bool overwrite);

// Deletes the tree at `path`; true when it is gone, and also when it never existed. A failed entry
// does not stop the walk, and removal of `path` itself is still attempted. Links are removed
// themselves, `path` included, and their targets are never touched. Files go whatever their
// permission bits (unlike Windows, where a read-only file stays).
bool DeleteDir(const std::string& path);

// The "ProductVersion" text of the file's version resource, exactly as stored, or empty text when
// the file has none, or no translation entry to find it by.
std::string GetFileProductVersion(const std::string& path);

}  // namespace LiveModule
