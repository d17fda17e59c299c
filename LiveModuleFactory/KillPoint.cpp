#include "KillPoint.h"

#ifdef LIVEMODULE_TEST_HOOKS
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/ProcessEnd.h"

namespace LiveModule {

void KillPoint(const char* name) {
    const char* wanted = std::getenv("LIVEMODULE_TEST_KILL_AT");
    if (!wanted || !*wanted) return;
    static std::mutex lock;                 // guards passes; points are passed on more than one thread
    static std::map<std::string, int> passes;
    const std::string target = wanted;
    const std::size_t hash = target.find('#');
    const std::string point = target.substr(0, hash);
    if (point != name) return;
    const int nth = hash == std::string::npos ? 1 : std::atoi(target.c_str() + hash + 1);
    std::lock_guard<std::mutex> guard(lock);
    if (++passes[point] == nth) platform::EndProcessAbruptly();
}

}  // namespace LiveModule
#endif
