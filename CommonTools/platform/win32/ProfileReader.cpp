#include "platform/ProfileReader.h"

#include <windows.h>
// The platform call of the same name, not the Win32 macro for its ANSI form.
#undef GetProfileInt

namespace LiveModule::platform {

int GetProfileInt(const std::string& section, const std::string& key, int defaultValue, const std::string& path) {
    return static_cast<int>(::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str()));
}

}  // namespace LiveModule::platform
