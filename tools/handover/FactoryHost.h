#pragma once

#include <functional>
#include <string>

#include "FactoryFolders.h"
#include "LiveModule/LiveModuleExports.h"

// What a program that loads the factory does, in one place for every such program (lm-host, the
// OBS plug-in): open the library, start the factory, and when it answers -2 hand over to the
// factory its package brought, once per start.
namespace LiveModule::handover {

enum class Level { Info, Warning, Error };
using Reporter = std::function<void(Level, const std::string&)>;

// Runs on the host's UI thread only, like the factory it owns.
class FactoryHost {
public:
    FactoryHost(std::string factoryLibrary, Reporter report);
    ~FactoryHost();  // Stop()
    FactoryHost(const FactoryHost&) = delete;
    FactoryHost& operator=(const FactoryHost&) = delete;

    // Starts the factory (LoadLiveModuleFactory(env, nullptr, &error)). On -2 it releases the
    // library, replaces the factory's folder from the package and starts the new factory; a new
    // factory that cannot be loaded gives way to the old one again. Null with `error` set when no
    // factory runs (-1, -2, or kCannotLoad when no library could be opened).
    ILiveModuleFactory* Start(int env, int& error);
    // UnloadLiveModuleFactory for a running factory, then the library is released.
    void Stop();

    void* Library() const { return library; }  // the open factory library, or null
    bool HandedOver() const { return handedOver; }

    // Tests stop the process at a step to prove a crash anywhere leaves a factory that starts.
    void OnStep(std::function<void(Step)> observer) { stepObserver = std::move(observer); }

    static constexpr int kCannotLoad = -100;

private:
    bool Open();
    void Close(bool beforeHandover = false);  // releases the library
    bool OpenOrPutBack();
    void Reached(Step step) const;

    FactoryFolders folders;
    Reporter report;
    std::function<void(Step)> stepObserver;
    void* library = nullptr;  // platform::LibraryHandle while open
    LoadLiveModuleFactoryFunc load = nullptr;
    UnloadLiveModuleFactoryFunc unload = nullptr;
    ILiveModuleFactory* factory = nullptr;  // owned through `unload`
    bool handedOver = false;
};

}  // namespace LiveModule::handover
