#include <glib.h>

#include <chrono>

#include "TestSupport.h"

namespace lmtest {

bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    GMainContext* context = g_main_context_ref_thread_default();
    bool reached = done();
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        // Blocks for at most one source's period, so the deadline is kept.
        if (!g_main_context_iteration(context, FALSE)) g_usleep(1000);
        reached = done();
    }
    g_main_context_unref(context);
    return reached;
}

}  // namespace lmtest
