#pragma once

#include <cstdint>

#include "ILiveModule.h"

namespace LiveModule {

// Implemented by the factory; modules receive it in LiveModuleLoad. Slot order is binary contract.
// Every call is made on the host's user-interface thread.
class ILiveModuleFactory {
public:
    /* 0 */ virtual ~ILiveModuleFactory() {}
    /* 1 */ virtual int GetEnv() = 0;
    /* 2 */ virtual ILiveModule* QueryModule(const char* id, uint64_t minApiVer) = 0;
    /* 3 */ virtual void EnumModules(void (*callback)(ILiveModule* module)) = 0;
    /* 4 */ virtual const char* GetConfigDir() = 0;
    /* 5 */ virtual const char* GetLogDir() = 0;
    /* 6 */ virtual const char* GetTempDir() = 0;
    /* 7 */ virtual bool IsHostVersionAtMost(const char* version) = 0;
    /* 8 */ virtual const char* GetHostVersion() = 0;
    /* 9 */ virtual const char* GetQtVersion() = 0;
    /* 10 */ virtual void BroadcastMessage(intptr_t message, ILiveModule* sender) = 0;
};

}  // namespace LiveModule
