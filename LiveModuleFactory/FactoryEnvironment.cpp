#include "FactoryEnvironment.h"

#include <algorithm>
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {

// Replaces `path` by its part before the last separator; false when it has none.
bool Cut(std::string& path) {
    size_t last = path.find_last_of(platform::kPathSeparators);
    if (last == std::string::npos) return false;
    path.erase(last);
    return true;
}

// Builds of a module for one of these Qt versions run on a host with any other of the group.
const std::vector<std::vector<std::string>> kInterchangeableQtTags = {
    {"6_3_1_0", "6_4_1_0"},
};

}  // namespace

FactoryDirectories DetectDirectories(const std::string& libraryPath, const std::string& localAppData) {
    FactoryDirectories dirs;
    std::string s = libraryPath;
    if (!Cut(s)) return dirs;
    dirs.factoryDir = s + platform::kPathSeparator;
    if (!Cut(s) || !Cut(s)) return dirs;
    dirs.modulesDir = s + platform::kPathSeparator;
    if (!Cut(s)) return dirs;
    dirs.configDir = s + platform::kPathSeparator + "config" + platform::kPathSeparator;
    dirs.logDir = s + platform::kPathSeparator + "logs" + platform::kPathSeparator;
    const std::string root = s;
    if (!Cut(s)) return dirs;
    size_t k = s.find_last_of(platform::kPathSeparators);
    // Without a data folder there is no place for it: "/Temp" would be made at the top of the system.
    if (k == std::string::npos || localAppData.empty()) return dirs;
    const char sep = platform::kPathSeparator;
    dirs.tempDir = localAppData + sep + "Temp" + sep + root.substr(k + 1) + sep;
    return dirs;
}

std::vector<std::string> QtVersionTags(const std::string& hostTag) {
    std::vector<std::string> tags{hostTag};
    for (const auto& group : kInterchangeableQtTags) {
        if (std::find(group.begin(), group.end(), hostTag) == group.end()) continue;
        for (const std::string& partner : group) {
            if (partner != hostTag) tags.push_back(partner);
        }
        break;
    }
    return tags;
}

std::string QtTagFromVersion(const std::string& version) {
    std::string tag = version;
    std::replace(tag.begin(), tag.end(), '.', '_');
    return tag;
}

}  // namespace LiveModule
