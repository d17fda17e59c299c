#include "ProductVersion.h"

#ifndef LIVEMODULE_FACTORY_VERSION
#error "LIVEMODULE_FACTORY_VERSION comes from the build"
#endif

namespace LiveModule {

// Weak, alone in its object file: a second factory build (the handover test's newer release) links
// its own definition beside the same static libraries and so differs only in this text.
__attribute__((weak)) const char* FactoryProductVersion() {
    return LIVEMODULE_FACTORY_VERSION;
}

}  // namespace LiveModule
