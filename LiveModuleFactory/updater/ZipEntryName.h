#pragma once

#include <string>
#include <vector>

// Where a zip entry lands: its stored name mapped to a path relative to the extraction folder.
namespace LiveModule {

// Strips, repeatedly, a drive designator (any character followed by ":"), a leading "\" or "/",
// and everything up to and including the first of "\..\", "\../", "/../", "/..\" found (tried in
// that order). What is left is relative to the extraction folder.
std::wstring MapEntryName(const std::wstring& stored);

// The levels of a mapped name, split at "/" and "\", without empty and "." levels. False when a
// level is "..": such a name would leave the extraction folder (for example ../x, which the
// mapping leaves as it is).
bool SplitEntryLevels(const std::wstring& mapped, std::vector<std::wstring>& levels);

}  // namespace LiveModule
