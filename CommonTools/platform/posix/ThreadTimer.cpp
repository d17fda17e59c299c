#include "platform/ThreadTimer.h"

#include <glib.h>

#include <memory>

namespace LiveModule::platform {

// Timers are GLib timeout sources attached to the calling thread's main context (the thread-default
// context, else the global default one that Qt's event loop runs on Linux).
namespace {

struct TimerCallback {
    std::function<void()> tick;
};

gboolean Dispatch(gpointer data) {
    auto* callback = static_cast<TimerCallback*>(data);
    if (callback->tick) callback->tick();
    return G_SOURCE_CONTINUE;
}

void Release(gpointer data) {
    std::unique_ptr<TimerCallback> owned(static_cast<TimerCallback*>(data));
}

}  // namespace

TimerId SetThreadTimer(uint32_t periodMs, std::function<void()> tick) {
    GMainContext* context = g_main_context_ref_thread_default();
    GSource* source = g_timeout_source_new(periodMs);
    auto callback = std::make_unique<TimerCallback>(TimerCallback{std::move(tick)});
    // GLib owns the callback from here and frees it through Release.
    g_source_set_callback(source, Dispatch, callback.release(), Release);
    g_source_attach(source, context);
    g_main_context_unref(context);
    // The id is the source itself; our reference keeps it valid until KillThreadTimer.
    return reinterpret_cast<TimerId>(source);
}

void KillThreadTimer(TimerId id) {
    if (id == 0) return;
    GSource* source = reinterpret_cast<GSource*>(id);
    g_source_destroy(source);
    g_source_unref(source);
}

}  // namespace LiveModule::platform
