#pragma once

#include <string>
#include <vector>

namespace LiveModule {

// The factory's folders, each ending with the path separator; empty when the library path is too
// shallow to give it.
struct FactoryDirectories {
    std::string factoryDir;
    std::string modulesDir;
    std::string configDir;
    std::string logDir;
    std::string tempDir;
};

// Works the folders out from the factory library's path: its own folder, the modules folder two
// levels up, the installation root above that with its config and logs folders, and a per-installation
// folder under localAppData named after the root's parent and the root. Only the depth counts.
FactoryDirectories DetectDirectories(const std::string& libraryPath, const std::string& localAppData);

// Qt version tags to try, best first: the host's own tag, then its interchangeable partners.
std::vector<std::string> QtVersionTags(const std::string& hostTag);

// "6.3.1.0" -> "6_3_1_0".
std::string QtTagFromVersion(const std::string& version);

}  // namespace LiveModule
