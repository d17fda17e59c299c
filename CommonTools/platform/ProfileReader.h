#pragma once

#include <string>

namespace LiveModule::platform {

// Integer value of `key` in `section` of an ini file, read as the Windows profile reader does:
// section and key names compare without regard to case, the value's leading integer counts (a value
// without digits gives 0), and `defaultValue` comes back when the file, section or key is absent. A
// file that starts with a UTF-8 or UTF-16LE byte order mark is read in that encoding.
int GetProfileInt(const std::string& section, const std::string& key, int defaultValue, const std::string& path);

}  // namespace LiveModule::platform
