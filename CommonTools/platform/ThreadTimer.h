#pragma once

#include <cstdint>
#include <functional>

namespace LiveModule::platform {

// Id of a periodic timer; 0 means none.
using TimerId = uintptr_t;

// Starts a periodic timer that calls `tick` on the calling thread's event loop every `periodMs`
// milliseconds, until it is killed. The calling thread must run that loop (the host's UI thread does).
TimerId SetThreadTimer(uint32_t periodMs, std::function<void()> tick);

// Stops a timer; a tick already running finishes. Must be called on the thread that set the timer.
void KillThreadTimer(TimerId id);

}  // namespace LiveModule::platform
