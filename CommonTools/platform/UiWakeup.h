#pragma once

#include <functional>

namespace LiveModule::platform {

// Runs `deliver` on the thread that created the object, through that thread's event loop, once
// after each Wake; wakes that come before the call runs share it. While nobody wakes it, it costs
// the loop nothing: no timer, no periodic wake-up.
//
// Threads: construct on the thread whose loop is to run `deliver` (the host's UI thread); Wake from
// any thread; destroy on any thread, never concurrently with Wake (a call under way finishes).
class UiWakeup {
public:
    explicit UiWakeup(std::function<void()> deliver);
    ~UiWakeup();
    UiWakeup(const UiWakeup&) = delete;
    UiWakeup& operator=(const UiWakeup&) = delete;

    void Wake();

private:
    void* source;  // the event-loop source, with what it calls; the reference is ours
};

}  // namespace LiveModule::platform
