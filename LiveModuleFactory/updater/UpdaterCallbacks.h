#pragma once

#include <functional>
#include <string>

namespace LiveModule {

// How the updater tells the factory about installed, withdrawn and finished work. Built by the factory,
// copied by the updater; called on the UI thread.
struct UpdaterCallbacks {
    std::function<void(std::string name)> onModuleInstalled;  // a package is ready, or a module was enabled again
    std::function<void(std::string name)> onModuleOffline;    // the catalogue no longer lists the module
    std::function<void()> onUpdateFinished;                    // the last download of a cycle finished
};

}  // namespace LiveModule
