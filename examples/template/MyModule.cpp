// my_module: a live module to start from. The host finds the package folder my_module, loads
// 64bit/my_module_<tag>.so for its Qt version, creates the module with LiveModuleLoad, checks it and
// then calls the functions below, always on its user-interface thread. To rename the module, change
// "my_module" here and in CMakeLists.txt together: id, package folder and library name must agree.
#include <cstdio>

#include <LiveModule/LiveModule.h>

namespace {

constexpr const char* kId = "my_module";
constexpr const char* kVersion = "1.0.0";

class MyModule final : public LiveModule::ILiveModule {
public:
    // The factory stays valid until LiveModuleUnload; keep it to reach other modules and folders.
    explicit MyModule(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    // GetApiVersion and GetFactoryApiVersion are left alone: their defaults carry the version of the
    // headers this module is built with, which is what the host checks right after GetId.

    // Called once every module found at start-up is loaded and the modules are in load order; a
    // module that arrives while the host runs is initialised right after loading. Returning false
    // gets the module unloaded at once. Other modules may not be initialised yet: wait for
    // OnModuleLoaded before using them.
    bool Initialize() override {
        std::printf("[%s] initialised (host %s, Qt %s, config in %s)\n", kId, factory->GetHostVersion(),
                    factory->GetQtVersion(), factory->GetConfigDir());
        std::fflush(stdout);
        return true;
    }

    // Asked right after LiveModuleLoad: the host refuses an empty id and one that a loaded module
    // already has. Then asked for every lookup by id and for log lines. It must equal the package
    // folder's name, and the text must stay valid as long as the module lives.
    const char* GetId() override { return kId; }

    // Display name as UTF-16 text. The host never asks; other users of the module may.
    const wchar_t* GetName() override { return L"My module"; }

    // Printed in the host's log line when the module loads; must never be null.
    const char* GetVersion() override { return kVersion; }

    // Free text for users of the module outside the host; the host never asks.
    const char* GetText8() override { return ""; }

    // Called at load and after every catalogue update with the catalogue's "disabled" flag. A disabled
    // module stays loaded, but QueryModule and EnumModules, which ask IsDisabled, leave it out.
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }

    // Optional slots; the base class answers for those left out.

    // Other modules get this module from QueryModule("my_module", minimum) only when the value here
    // is at least their minimum; the default 0 keeps the module to itself.
    uint64_t GetServiceApiVersion() override { return 1; }

    // Called once for every other module after start-up, and for each module that arrives later.
    void OnModuleLoaded(LiveModule::ILiveModule* other) override {
        std::printf("[%s] met %s\n", kId, other->GetId());
        std::fflush(stdout);
    }

    // Called at the host's exit, before LiveModuleUnload: stop work and drop what other modules gave.
    void Uninitialize() override {
        std::printf("[%s] uninitialised\n", kId);
        std::fflush(stdout);
    }

private:
    LiveModule::ILiveModuleFactory* factory;
    bool disabled = false;
};

}  // namespace

// The host looks up both exports by these names; a library without either is not loaded. Return null
// when the module cannot work here; never throw and never end the process.
LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new MyModule(factory);  // LiveModuleUnload deletes it
}

// Called once for the object LiveModuleLoad returned: at the host's exit, or at once when the module
// failed a load check or Initialize.
LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
