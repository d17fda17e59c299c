#pragma once

#include <vector>

#include "LiveModule/ILiveModule.h"

namespace LiveModule {

// Tells every module about every other one: for each module A in the given order, each module B
// other than A, in the same order, receives OnModuleLoaded(A). Runs on the UI thread.
void NotifyEachOfEveryOther(const std::vector<ILiveModule*>& modules);

}  // namespace LiveModule
