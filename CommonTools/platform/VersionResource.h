#pragma once

#include <map>
#include <string>

// Access to the version resource an executable or shared library carries.
namespace LiveModule::platform {

// Reads the resource's values keyed by their resource paths, for example
// "\VarFileInfo\Translation" -> "040904b0" (language, then code page, as 8 hex digits) and
// "\StringFileInfo\040904b0\ProductVersion" -> "30.0.0". False when the file has no version
// resource or it cannot be read. The file is untrusted: a damaged one gives false.
bool ReadVersionResource(const std::string& path, std::map<std::string, std::string>& values);

}  // namespace LiveModule::platform
