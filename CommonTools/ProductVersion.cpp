#include "ProductVersion.h"

#ifndef LIVEMODULE_FACTORY_VERSION
#error "LIVEMODULE_FACTORY_VERSION comes from the build"
#endif

// Weak, alone in its object file: a second factory build (the handover test's newer release) links
// its own definition beside the same static libraries and so differs only in this text. PE has no
// use for weak here: the linker takes the object file's own definition before any archive member's,
// so the strong one in the static library is never pulled in.
#ifdef _WIN32
#define LIVEMODULE_REPLACEABLE
#else
#define LIVEMODULE_REPLACEABLE __attribute__((weak))
#endif

namespace LiveModule {

LIVEMODULE_REPLACEABLE const char* FactoryProductVersion() {
    return LIVEMODULE_FACTORY_VERSION;
}

}  // namespace LiveModule
