// A module whose behaviour is chosen at build time, for driving the factory through every path.
// Every call it receives goes to the test host's journal as "<id>:<call>".
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <string>

#include "LiveModule/LiveModule.h"

#ifndef TM_ID
#error TM_ID must name the id the module reports
#endif
#ifndef TM_API_VERSION
#define TM_API_VERSION LiveModule::kInterfaceVersion
#endif
#ifndef TM_FACTORY_API_VERSION
#define TM_FACTORY_API_VERSION LiveModule::kInterfaceVersion
#endif
#ifndef TM_SERVICE_API_VERSION
#define TM_SERVICE_API_VERSION 0
#endif
#ifndef TM_INIT_RESULT
#define TM_INIT_RESULT true
#endif
#ifndef TM_VERSION
#define TM_VERSION "1.0.0"
#endif

#ifdef TM_GNU_UNIQUE
// A static inside an inline function of default visibility: GCC makes it a GNU-unique symbol, which
// pins the library in memory (built with -fgnu-unique for this variant only).
__attribute__((visibility("default"))) inline int& TmUniqueCounter() {
    static int counter = 0;
    return counter;
}
__attribute__((visibility("default"))) int TmTouchUnique() {
    return ++TmUniqueCounter();
}
#endif

namespace {

using JournalFunc = void (*)(const char*);

// Resolved in the test host; absent when the module runs in another host.
JournalFunc FindJournal() {
#ifdef _WIN32
    return reinterpret_cast<JournalFunc>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(nullptr), "lm_test_journal")));
#else
    return reinterpret_cast<JournalFunc>(dlsym(RTLD_DEFAULT, "lm_test_journal"));
#endif
}

void Journal(const std::string& call) {
    static const JournalFunc journal = FindJournal();
    if (journal) journal((std::string(TM_ID) + ":" + call).c_str());
}

const char* OtherId(LiveModule::ILiveModule* other) {
    const char* id = other ? other->GetId() : nullptr;
    return id ? id : "(null)";
}

class TestModule : public LiveModule::ILiveModule {
public:
    explicit TestModule(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    uint64_t GetApiVersion() override { return TM_API_VERSION; }
    uint64_t GetFactoryApiVersion() override { return TM_FACTORY_API_VERSION; }
    bool Initialize() override {
        Journal("Initialize");
        return TM_INIT_RESULT;
    }
    const char* GetId() override {
#ifdef TM_NULL_ID
        return nullptr;
#else
        return TM_ID;
#endif
    }
    const wchar_t* GetName() override { return L"test module"; }
    const char* GetVersion() override { return TM_VERSION; }
    uint64_t GetServiceApiVersion() override { return TM_SERVICE_API_VERSION; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override {
        disabled = value;
        Journal(std::string("SetDisabled(") + (value ? "1" : "0") + ")");
    }
    bool IsDisabled() override { return disabled; }
    void SetIdentify(int identify) override { Journal("SetIdentify(" + std::to_string(identify) + ")"); }
    void OnModuleLoaded(LiveModule::ILiveModule* other) override {
        Journal(std::string("OnModuleLoaded(") + OtherId(other) + ")");
    }
    void OnMessage(intptr_t message, LiveModule::ILiveModule* sender) override {
        Journal("OnMessage(" + std::to_string(message) + "," + OtherId(sender) + ")");
    }
    void Uninitialize() override { Journal("Uninitialize"); }

    LiveModule::ILiveModuleFactory* factory;
    bool disabled = false;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    Journal("Load");
#ifdef TM_CRASH_IN_LOAD
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;  // a real invalid write, as a broken module makes it
#endif
#ifdef TM_NULL_INSTANCE
    (void)factory;
    return nullptr;
#else
    return new TestModule(factory);  // module-boundary contract: LiveModuleUnload deletes it
#endif
}

#ifndef TM_NO_UNLOAD_EXPORT
LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    Journal("Unload");
    delete module;
}
#endif
