#include "FactoryHost.h"

#include "platform/DynamicLibrary.h"

namespace LiveModule::handover {

FactoryHost::FactoryHost(std::string factoryLibrary, Reporter reporter)
    : folders(factoryLibrary), report(std::move(reporter)) {}

FactoryHost::~FactoryHost() {
    Stop();
}

void FactoryHost::Reached(Step step) const {
    if (stepObserver) stepObserver(step);
}

bool FactoryHost::Open() {
    std::string text;
    library = platform::LoadLibrary(folders.Library(), &text);
    if (!library) {
#ifdef _WIN32
        // dlerror's text names the file; Windows's text for the error code does not.
        text = folders.Library() + ": " + text;
#endif
        report(Level::Error, "cannot load the factory: " + (text.empty() ? folders.Library() : text));
        return false;
    }
    load = reinterpret_cast<LoadLiveModuleFactoryFunc>(platform::GetLibrarySymbol(library, "LoadLiveModuleFactory"));
    unload = reinterpret_cast<UnloadLiveModuleFactoryFunc>(platform::GetLibrarySymbol(library, "UnloadLiveModuleFactory"));
    if (!load || !unload) {
        report(Level::Error, folders.Library() + " lacks the factory exports");
        Close();
        return false;
    }
    return true;
}

void FactoryHost::Close(bool beforeHandover) {
    if (!library) return;
    platform::FreeLibrary(library);
    library = nullptr;
    load = nullptr;
    unload = nullptr;
    if (!beforeHandover) return;
    // Still mapped means the same path would give back the old code after the handover (and on
    // Windows that the factory's folder cannot be renamed: the handover then keeps the old one).
    if (platform::IsLibraryLoaded(folders.Library())) {
        report(Level::Warning, "the released factory library stays mapped; a new one at the same path cannot run "
                               "until the host restarts");
    }
}

bool FactoryHost::OpenOrPutBack() {
    if (Open()) return true;
    std::string why;
    if (!folders.HasKeptFactory()) return false;
    if (!folders.PutBack(why)) {
        report(Level::Error, "the new factory cannot be loaded and " + why);
        return false;
    }
    report(Level::Warning, "the new factory cannot be loaded; the earlier one is back");
    return Open();
}

ILiveModuleFactory* FactoryHost::Start(int env, int& error) {
    if (factory) return factory;
    const std::string recovered = folders.Recover();
    if (!recovered.empty()) report(Level::Warning, "an interrupted factory update was repaired: " + recovered);
    bool replaced = false;  // the package's factory is the one in place now
    while (true) {
        if (!OpenOrPutBack()) {
            error = kCannotLoad;
            return nullptr;
        }
        error = 0;
        factory = load(env, nullptr, &error);
        // It has run its start-up, whatever the answer: the kept factory is no longer needed.
        if (handedOver || folders.HasKeptFactory()) {
            Reached(Step::NewStarted);
            folders.DropKept();
        }
        if (factory || error != -2 || handedOver) {
            if (factory && replaced) report(Level::Info, "the factory from the package has started");
            return factory;
        }
        report(Level::Info, "a new factory package is waiting; handing over to it");
        Close(true);
        Reached(Step::Released);
        std::string why;
        replaced = folders.Replace(why, [this](Step step) { Reached(step); });
        if (!replaced) report(Level::Error, "the factory package cannot be used: " + why + "; the current factory stays");
        handedOver = true;
    }
}

void FactoryHost::Stop() {
    if (factory && unload) unload(factory);
    factory = nullptr;
    Close();
}

}  // namespace LiveModule::handover
