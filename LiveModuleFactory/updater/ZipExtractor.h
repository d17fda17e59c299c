#pragma once

#include <string>

// Extraction of zip packages. On Linux the wide paths are turned back into the native (ANSI)
// narrow text for the file calls; entries never land outside the destination (see Unzip).
namespace LiveModule {

// Extracts every entry of `archive` into `destination` (created with all missing levels). An empty
// password means none. True when every entry was extracted; at the first entry that fails the
// extraction stops and the entries extracted before it stay. An entry fails when its mapped name
// would leave the destination (a ".." level survives the mapping), when it is a symbolic link,
// when its data does not come to its declared size or CRC, and on any data, password or write
// error; its partly written file is removed.
bool Unzip(const std::wstring& archive, const std::wstring& destination, const std::string& password);

// The updater's call, with native paths taken as they are and no password. A package fills only its
// own top folder, named after the archive without ".zip": every other entry is skipped, with a log
// line, and does not fail the extraction.
bool UnzipPackage(const std::string& archive, const std::string& destination);

}  // namespace LiveModule
