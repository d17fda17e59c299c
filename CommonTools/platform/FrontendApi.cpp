#include "platform/FrontendApi.h"

#include "platform/ProcessInfo.h"

namespace LiveModule::platform {

namespace {
using RegisterFunc = void (*)(FrontendEventCallback callback, void* data);

// The host's front-end library exports them (obs-frontend-api), or the host program itself does.
bool CallHost(const char* name, FrontendEventCallback callback, void* data) {
    auto function = reinterpret_cast<RegisterFunc>(FindHostSymbol(name));
    if (!function) return false;
    function(callback, data);
    return true;
}
}  // namespace

bool AddFrontendEventCallback(FrontendEventCallback callback, void* data) {
    return CallHost("obs_frontend_add_event_callback", callback, data);
}

bool RemoveFrontendEventCallback(FrontendEventCallback callback, void* data) {
    return CallHost("obs_frontend_remove_event_callback", callback, data);
}

}  // namespace LiveModule::platform
