#include "TestSupport.h"

#include <windows.h>

namespace lmtest {

bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMilliseconds);
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Sleeps until a message arrives, for 1 ms at most, then handles what is queued: thread timers
        // and the service's wake-ups arrive as messages. The condition is asked again every pass, as
        // GLib's loop does on Linux: what another thread changes (a server's count) posts no message,
        // and waiting for the next one would handle it too, ahead of the caller's next step.
        const ULONGLONG wait = deadline - now < 1 ? deadline - now : 1;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(wait), QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

}  // namespace lmtest
