#include "updater/MergeKillPoint.h"

#ifdef LIVEMODULE_TEST_HOOKS
#include <csignal>
#include <cstdlib>

namespace LiveModule {

void MergeKillPoint(std::size_t step) {
    static const long target = [] {
        const char* value = std::getenv("LIVEMODULE_TEST_KILL_IN_MERGE");
        return value && *value ? std::strtol(value, nullptr, 10) : -1L;
    }();
    if (target >= 0 && static_cast<std::size_t>(target) == step) std::raise(SIGKILL);
}

}  // namespace LiveModule
#endif
