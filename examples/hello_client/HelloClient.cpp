// hello_client: a module that uses others. When it is initialised it asks the factory for the
// built-in net_request service and for hello_service, and greets through hello_service's interface.
#include <cstdio>
#include <string_view>

#include <LiveModule/LiveModule.h>

#include "IHelloService.h"

namespace {

class HelloClient final : public LiveModule::ILiveModule {
public:
    explicit HelloClient(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    bool Initialize() override {
        LiveModule::ILiveModule* net = factory->QueryModule("net_request", LiveModule::kInterfaceVersion);
        std::printf("[hello_client] initialised; net_request %s\n",
                    net && LiveModule::AsNetRequest(net) ? net->GetVersion() : "is missing");
        GreetThroughService("at start-up");
        std::fflush(stdout);
        return true;
    }
    const char* GetId() override { return "hello_client"; }
    const wchar_t* GetName() override { return L"Hello client"; }
    const char* GetVersion() override { return "1.0.0"; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }
    void OnModuleLoaded(LiveModule::ILiveModule* other) override {
        std::printf("[hello_client] met %s %s\n", other->GetId(), other->GetVersion());
        // A service that arrives later (a hot load) is greeted when it is introduced.
        if (std::string_view(other->GetId()) == "hello_service") GreetThroughService("on introduction");
        std::fflush(stdout);
    }
    void Uninitialize() override {
        std::printf("[hello_client] uninitialised\n");
        std::fflush(stdout);
    }

private:
    void GreetThroughService(const char* when) {
        LiveModule::ILiveModule* module = factory->QueryModule("hello_service", hello::kHelloServiceApiVersion);
        auto* service = module ? reinterpret_cast<hello::IHelloService*>(
                                     module->Invoke17(hello::kHelloServiceInterface, hello::kHelloServiceApiVersion))
                               : nullptr;
        if (!service) {
            std::printf("[hello_client] hello_service with service API %d or newer is not running (%s)\n",
                        static_cast<int>(hello::kHelloServiceApiVersion), when);
            return;
        }
        std::printf("[hello_client] %s: %s\n", when, service->Greet("hello_client"));
    }

    LiveModule::ILiveModuleFactory* factory;
    bool disabled = false;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new HelloClient(factory);  // LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
