#include "TestSupport.h"

#include <windows.h>

namespace lmtest {

bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMilliseconds);
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        // Sleeps until a message arrives or the time is up, then handles what is queued: thread
        // timers and the service's wake-ups arrive as messages.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

}  // namespace lmtest
