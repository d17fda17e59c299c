#pragma once

namespace LiveModule::platform {

// The host front-end's event callback type; event 17 is the host's exit.
using FrontendEventCallback = void (*)(int event, void* data);
constexpr int kFrontendEventExit = 17;

// Registration with the host front-end. The functions are resolved from the host process, which
// defines them; when the host has none the calls do nothing and return false.
bool AddFrontendEventCallback(FrontendEventCallback callback, void* data);
bool RemoveFrontendEventCallback(FrontendEventCallback callback, void* data);

}  // namespace LiveModule::platform
