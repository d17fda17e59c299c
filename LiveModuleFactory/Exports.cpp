// The factory library's two exports: the only way in for the host's front-end plug-in.
#include "LiveModule/LiveModuleExports.h"
#include "LiveModuleFactory.h"

#include <memory>

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
