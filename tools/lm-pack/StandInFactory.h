#pragma once

#include <string>

#include "LiveModule/ILiveModuleFactory.h"

namespace LiveModule::pack {

// What a module sees of the factory while lm-pack checks it: an alternative environment, no other
// modules, no folders, a recent host and the Qt version its library was built for.
class StandInFactory final : public ILiveModuleFactory {
public:
    explicit StandInFactory(std::string qtTag) : qtTag(std::move(qtTag)) {}

    int GetEnv() override { return 1; }
    ILiveModule* QueryModule(const char* id, uint64_t minApiVer) override;
    void EnumModules(void (*callback)(ILiveModule* module)) override;
    const char* GetConfigDir() override { return ""; }
    const char* GetLogDir() override { return ""; }
    const char* GetTempDir() override { return ""; }
    bool IsHostVersionAtMost(const char* version) override;
    const char* GetHostVersion() override { return kHostVersion; }
    const char* GetQtVersion() override { return qtTag.c_str(); }
    void BroadcastMessage(intptr_t message, ILiveModule* sender) override;

    static constexpr const char* kHostVersion = "30.0.0";

private:
    std::string qtTag;
};

}  // namespace LiveModule::pack
