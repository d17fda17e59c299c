#include "updater/UpdateInterval.h"

#include "platform/ProfileReader.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
constexpr int kDefaultMinutes = 30;
constexpr int kMaxMinutes = 71582;  // 71582 x 60000 < 2^32 <= 71583 x 60000
}  // namespace

std::string GlobalIniPath(const std::string& modulesDir) {
    std::string root = modulesDir;
    // A trailing separator of either kind (Windows takes "/" too) ends the folder's name.
    if (!root.empty() && std::string(platform::kPathSeparators).find(root.back()) != std::string::npos) root.pop_back();
    const std::size_t last = root.find_last_of(platform::kPathSeparators);
    root = last == std::string::npos ? "." : root.substr(0, last);
    return root + platform::kPathSeparator + "global.ini";
}

uint32_t ReadUpdateIntervalMs(const std::string& iniPath) {
    int minutes = platform::GetProfileInt("General", "UpdateIntervalInMin", kDefaultMinutes, iniPath);
    if (minutes <= 0) minutes = kDefaultMinutes;
    if (minutes > kMaxMinutes) minutes = kMaxMinutes;
    return static_cast<uint32_t>(minutes) * 60000u;
}

}  // namespace LiveModule
