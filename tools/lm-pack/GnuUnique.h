#pragma once

#include <string>
#include <vector>

namespace LiveModule::pack {

// Names of the GNU-unique symbols (STB_GNU_UNIQUE) a 64-bit ELF library defines in its dynamic
// symbol table. The loader never unloads a library holding one, so a new release at the same path
// would only run after the host restarts. Empty for a file that is no such library.
std::vector<std::string> GnuUniqueSymbols(const std::string& path);

}  // namespace LiveModule::pack
