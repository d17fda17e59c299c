#include "platform/UiWakeup.h"

#include <windows.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

namespace LiveModule::platform {

// A message-only window of the creating thread: Wake posts one message to it (PostMessage may be
// called from any thread), and the thread's message loop runs `deliver` through the window's
// procedure. No timer and no message while nobody wakes it.
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x4c4d;
constexpr const char* kClassName = "LiveModuleUiWakeup";

struct Target {
    explicit Target(std::function<void()> call) : deliver(std::move(call)) {}
    std::function<void()> deliver;
    std::atomic<bool> pending{false};  // set by the first Wake of a round, cleared by its call
};

std::mutex g_lock;
std::map<HWND, std::shared_ptr<Target>> g_targets;  // guarded by g_lock

LRESULT CALLBACK WakeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kWakeMessage) return DefWindowProcA(window, message, wParam, lParam);
    std::shared_ptr<Target> target;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_targets.find(window);
        if (found == g_targets.end()) return 0;
        target = found->second;  // kept alive while it runs, even if the object goes meanwhile
    }
    // Cleared first: a Wake during the call posts again for what it announced.
    if (target->pending.exchange(false) && target->deliver) target->deliver();
    return 0;
}

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&WakeProc), &module);
    return module;
}

HWND CreateWakeWindow() {
    static const bool registered = [] {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = WakeProc;
        windowClass.hInstance = ThisModule();
        windowClass.lpszClassName = kClassName;
        return RegisterClassA(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    if (!registered) return nullptr;
    return CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
}

}  // namespace

UiWakeup::UiWakeup(std::function<void()> deliver) {
    HWND window = CreateWakeWindow();
    if (window) {
        std::lock_guard<std::mutex> guard(g_lock);
        g_targets[window] = std::make_shared<Target>(std::move(deliver));
    }
    source = window;
}

UiWakeup::~UiWakeup() {
    HWND window = static_cast<HWND>(source);
    if (!window) return;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        g_targets.erase(window);
    }
    // Only the owning thread may destroy a window; from elsewhere it is asked to close itself.
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
        DestroyWindow(window);
    } else {
        PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

void UiWakeup::Wake() {
    HWND window = static_cast<HWND>(source);
    if (!window) return;
    std::shared_ptr<Target> target;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        const auto found = g_targets.find(window);
        if (found == g_targets.end()) return;
        target = found->second;
    }
    // Only the first wake of a round posts; later ones find it pending.
    if (!target->pending.exchange(true)) PostMessageA(window, kWakeMessage, 0, 0);
}

}  // namespace LiveModule::platform
