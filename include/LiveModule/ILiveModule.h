#pragma once

#include <cstdint>

#include "LiveModuleVersion.h"

namespace LiveModule {

// Implemented by every live module. The order of the virtual functions is the binary contract with
// modules built separately: never reorder, insert or remove a slot. With the Itanium C++ ABI the
// destructor takes two table entries (complete and deleting), so slot N >= 1 sits at entry N + 1.
class ILiveModule {
public:
    /* 0 */ virtual ~ILiveModule() {}
    /* 1 */ virtual uint64_t GetApiVersion() { return kInterfaceVersion; }
    /* 2 */ virtual uint64_t GetFactoryApiVersion() { return kInterfaceVersion; }
    /* 3 */ virtual bool Initialize() = 0;
    /* 4 */ virtual const char* GetId() = 0;
    /* 5 */ virtual const wchar_t* GetName() = 0;
    /* 6 */ virtual const char* GetVersion() = 0;
    /* 7 */ virtual uint64_t GetServiceApiVersion() { return 0; }
    /* 8 */ virtual const char* GetText8() = 0;
    /* 9 */ virtual void SetDisabled(bool disabled) = 0;
    /* 10 */ virtual bool IsDisabled() = 0;
    /* 11 */ virtual intptr_t GetValue11() { return 0; }
    /* 12 */ virtual const char* GetText12() { return ""; }
    /* 13 */ virtual const char* GetText13() { return ""; }
    /* 14 */ virtual const char* GetText14() { return ""; }
    /* 15 */ virtual void SetIdentify(int /*identify*/) {}
    /* 16 */ virtual intptr_t GetValue16() { return 0; }
    /* 17 */ virtual intptr_t Invoke17(intptr_t /*argument*/, int /*value*/) { return 0; }
    /* 18 */ virtual bool GetFlag18() { return false; }
    /* 19 */ virtual const char* GetText19() { return ""; }
    /* 20 */ virtual void Notify20(intptr_t /*argument*/) {}
    /* 21 */ virtual void OnModuleLoaded(ILiveModule* /*other*/) {}
    /* 22 */ virtual void Notify22(intptr_t /*argument*/) {}
    /* 23 */ virtual void OnMessage(intptr_t /*message*/, ILiveModule* /*sender*/) {}
    /* 24 */ virtual void Uninitialize() {}
};

}  // namespace LiveModule
