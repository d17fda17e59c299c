#include "platform/ThreadTimer.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

namespace LiveModule::platform {

// Timers are thread timers without a window (SetTimer with a null window): WM_TIMER reaches the
// setting thread's message loop, whose DispatchMessage calls TimerProc there.
namespace {

using Tick = std::shared_ptr<std::function<void()>>;

std::mutex g_lock;
std::map<UINT_PTR, Tick> g_ticks;  // guarded by g_lock

void CALLBACK OnTimer(HWND, UINT, UINT_PTR id, DWORD) {
    Tick tick;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_ticks.find(id);
        if (found == g_ticks.end()) return;
        tick = found->second;  // kept alive while it runs, even if the tick kills its own timer
    }
    if (*tick) (*tick)();
}

}  // namespace

TimerId SetThreadTimer(uint32_t periodMs, std::function<void()> tick) {
    auto callback = std::make_shared<std::function<void()>>(std::move(tick));
    std::lock_guard<std::mutex> guard(g_lock);
    const UINT_PTR id = ::SetTimer(nullptr, 0, periodMs, &OnTimer);
    if (id == 0) return 0;
    g_ticks[id] = std::move(callback);
    return static_cast<TimerId>(id);
}

void KillThreadTimer(TimerId id) {
    if (id == 0) return;
    ::KillTimer(nullptr, static_cast<UINT_PTR>(id));
    Tick released;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_ticks.find(static_cast<UINT_PTR>(id));
        if (found == g_ticks.end()) return;
        released = std::move(found->second);
        g_ticks.erase(found);
    }
}

}  // namespace LiveModule::platform
