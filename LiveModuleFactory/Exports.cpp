// The factory library's exports: the two that are the only way in for the host's front-end plug-in,
// and in test builds one hook.
#include "LiveModule/LiveModuleExports.h"
#include "LiveModuleFactory.h"

#include <memory>

#ifdef LIVEMODULE_TEST_HOOKS
#include "updater/LiveModuleUpdater.h"
#endif

using LiveModule::ILiveModuleFactory;
using LiveModule::LiveModuleFactory;

// Nothing may unwind into the host: an exception inside start-up fails it like an updater error.
LIVEMODULE_EXPORT ILiveModuleFactory* LoadLiveModuleFactory(int env, void* /*reserved*/, int* error) {
    std::unique_ptr<LiveModuleFactory> factory;
    int result = -1;
    try {
        factory = std::make_unique<LiveModuleFactory>(env);
        result = factory->Init();
    } catch (...) {
        result = -1;
    }
    if (result == 0) return factory.release();
    if (error) *error = result;
    factory.reset();
    return nullptr;
}

LIVEMODULE_EXPORT void UnloadLiveModuleFactory(ILiveModuleFactory* factory) {
    if (!factory) return;
    delete factory;  // the host hands back what LoadLiveModuleFactory created
}

#ifdef LIVEMODULE_TEST_HOOKS
// Test builds only: runs the update timer's tick now, so tests and demonstrations never wait a
// whole interval (a minute at least) for the next update cycle. Call it on the UI thread, the one
// that runs the factory. Does nothing while no timer is armed.
LIVEMODULE_EXPORT void LiveModuleTestFireUpdateTimer() {
    LiveModule::LiveModuleUpdater::FireUpdateTimerNow();
}
#endif
