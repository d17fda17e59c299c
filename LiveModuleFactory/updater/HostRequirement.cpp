#include "updater/HostRequirement.h"

#include <exception>

#include "VersionCompare.h"

namespace LiveModule {

bool SuitsHost(const std::string& appVersion, const std::string& hostVersion) {
    if (appVersion.empty() || hostVersion.empty()) return true;
    // CompareVersion throws on a malformed component; the exception ends here, so a bad catalogue
    // entry never reaches the host.
    try {
        return CompareVersion(appVersion, hostVersion) <= 0;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace LiveModule
