// hello_service: a module that serves others. It reports a service API version, so QueryModule hands
// it out, and gives its IHelloService interface through Invoke17.
#include <cstdio>
#include <string>

#include <LiveModule/LiveModule.h>

#include "IHelloService.h"

namespace {

class HelloService final : public LiveModule::ILiveModule, public hello::IHelloService {
public:
    explicit HelloService(LiveModule::ILiveModuleFactory* factory) : factory(factory) {}

    // ILiveModule
    bool Initialize() override {
        std::printf("[hello_service] initialised (host %s, Qt %s)\n", factory->GetHostVersion(), factory->GetQtVersion());
        std::fflush(stdout);
        return true;
    }
    const char* GetId() override { return "hello_service"; }
    const wchar_t* GetName() override { return L"Hello service"; }
    const char* GetVersion() override { return HELLO_SERVICE_VERSION; }
    uint64_t GetServiceApiVersion() override { return hello::kHelloServiceApiVersion; }
    const char* GetText8() override { return ""; }
    void SetDisabled(bool value) override { disabled = value; }
    bool IsDisabled() override { return disabled; }
    intptr_t Invoke17(intptr_t request, int minVersion) override {
        if (request != hello::kHelloServiceInterface || static_cast<uint64_t>(minVersion) > hello::kHelloServiceApiVersion) {
            return 0;
        }
        return reinterpret_cast<intptr_t>(static_cast<hello::IHelloService*>(this));
    }
    void OnModuleLoaded(LiveModule::ILiveModule* other) override {
        std::printf("[hello_service] met %s\n", other->GetId());
        std::fflush(stdout);
    }
    void Uninitialize() override {
        std::printf("[hello_service] uninitialised after %d greetings\n", greetings);
        std::fflush(stdout);
    }

    // IHelloService
    const char* Greet(const char* who) override {
        ++greetings;
        reply = std::string("Hello, ") + (who ? who : "stranger") + ", from hello_service " + HELLO_SERVICE_VERSION;
        return reply.c_str();
    }
    int GreetingsGiven() override { return greetings; }

private:
    LiveModule::ILiveModuleFactory* factory;
    bool disabled = false;
    int greetings = 0;
    std::string reply;
};

}  // namespace

LIVEMODULE_EXPORT LiveModule::ILiveModule* LiveModuleLoad(LiveModule::ILiveModuleFactory* factory) {
    return new HelloService(factory);  // LiveModuleUnload deletes it
}

LIVEMODULE_EXPORT void LiveModuleUnload(LiveModule::ILiveModule* module) {
    delete module;
}
