#include "StandInFactory.h"

#include <exception>

#include "VersionCompare.h"

namespace LiveModule::pack {

ILiveModule* StandInFactory::QueryModule(const char* /*id*/, uint64_t /*minApiVer*/) {
    return nullptr;
}

void StandInFactory::EnumModules(void (* /*callback*/)(ILiveModule* module)) {}

bool StandInFactory::IsHostVersionAtMost(const char* version) {
    // Same answer as the factory's, which never lets a malformed version escape as an exception.
    if (!version) return false;
    try {
        return CompareVersion(version, kHostVersion) >= 0;
    } catch (const std::exception&) {
        return false;
    }
}

void StandInFactory::BroadcastMessage(intptr_t /*message*/, ILiveModule* /*sender*/) {}

}  // namespace LiveModule::pack
