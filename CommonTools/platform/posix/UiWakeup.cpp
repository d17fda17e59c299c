#include "platform/UiWakeup.h"

#include <glib.h>

#include <memory>

namespace LiveModule::platform {

// A GLib source on the creating thread's main context (the thread-default one, else the global
// default, which Qt's loop runs on Linux). It is ready only while `pending` is set; Wake sets it and
// interrupts the context's poll, so an idle loop sleeps in poll with no time-out of ours.
namespace {

struct WakeSource {
    GSource base;  // first, as GLib requires
    gint pending;  // 1 while a wake waits for its call; GLib's atomic operations only
    std::function<void()>* deliver;
    GMainContext* context;  // referenced until the source is finalized
};

WakeSource* Of(GSource* source) {
    return reinterpret_cast<WakeSource*>(source);
}

gboolean Prepare(GSource* source, gint* timeout) {
    *timeout = -1;
    return g_atomic_int_get(&Of(source)->pending);
}

gboolean Check(GSource* source) {
    return g_atomic_int_get(&Of(source)->pending);
}

gboolean Dispatch(GSource* source, GSourceFunc, gpointer) {
    WakeSource* wake = Of(source);
    // Cleared first: a Wake during the call brings the loop back for what it announced.
    if (g_atomic_int_exchange(&wake->pending, 0) && *wake->deliver) (*wake->deliver)();
    return G_SOURCE_CONTINUE;
}

void Finalize(GSource* source) {
    WakeSource* wake = Of(source);
    std::unique_ptr<std::function<void()>> owned(wake->deliver);
    g_main_context_unref(wake->context);
}

GSourceFuncs wakeFuncs = {Prepare, Check, Dispatch, Finalize, nullptr, nullptr};

}  // namespace

UiWakeup::UiWakeup(std::function<void()> deliver) {
    GSource* created = g_source_new(&wakeFuncs, sizeof(WakeSource));
    WakeSource* wake = Of(created);
    // g_source_new zero-fills: nothing pending. Finalize frees the function.
    wake->deliver = std::make_unique<std::function<void()>>(std::move(deliver)).release();
    wake->context = g_main_context_ref_thread_default();
    g_source_set_priority(created, G_PRIORITY_DEFAULT);
    g_source_attach(created, wake->context);
    source = created;
}

UiWakeup::~UiWakeup() {
    GSource* own = static_cast<GSource*>(source);
    g_source_destroy(own);  // thread-safe; a dispatch under way keeps its own reference
    g_source_unref(own);
}

void UiWakeup::Wake() {
    WakeSource* wake = Of(static_cast<GSource*>(source));
    // Only the first wake of a round interrupts the poll; later ones find it pending.
    if (!g_atomic_int_exchange(&wake->pending, 1)) g_main_context_wakeup(wake->context);
}

}  // namespace LiveModule::platform
