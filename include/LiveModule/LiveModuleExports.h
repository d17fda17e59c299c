#pragma once

#include "ILiveModule.h"
#include "ILiveModuleFactory.h"

// Marks a function as exported with C linkage from a module or factory library.
#ifdef _WIN32
#define LIVEMODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define LIVEMODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

extern "C" {

// Exported by every module library under exactly these names.
// LiveModuleLoad creates the module object (or returns null); the factory pointer stays valid until
// LiveModuleUnload is called for that object. LiveModuleUnload destroys what LiveModuleLoad returned.
typedef LiveModule::ILiveModule* (*LiveModuleLoadFunc)(LiveModule::ILiveModuleFactory* factory);
typedef void (*LiveModuleUnloadFunc)(LiveModule::ILiveModule* module);

// Exported by the factory library. On failure LoadLiveModuleFactory returns null and writes the
// updater's code (-1 or -2) to *error; error must point at valid storage.
typedef LiveModule::ILiveModuleFactory* (*LoadLiveModuleFactoryFunc)(int env, void* reserved, int* error);
typedef void (*UnloadLiveModuleFactoryFunc)(LiveModule::ILiveModuleFactory* factory);

}
