// Compiled once per factory library, with that library's settings as definitions, so a test
// library with other settings needs only this file built again.
#include "TrustSettings.h"

#ifndef LIVEMODULE_PACKAGE_PUBLIC_KEY
#define LIVEMODULE_PACKAGE_PUBLIC_KEY ""
#endif
#ifndef LIVEMODULE_VERIFY_TLS_UPDATER
#define LIVEMODULE_VERIFY_TLS_UPDATER 0
#endif
#ifndef LIVEMODULE_VERIFY_TLS_MODULES
#define LIVEMODULE_VERIFY_TLS_MODULES 0
#endif
#ifndef LIVEMODULE_CA_BUNDLE
#define LIVEMODULE_CA_BUNDLE ""
#endif

namespace LiveModule {

const TrustSettings& BuiltTrustSettings() {
    static const TrustSettings settings{LIVEMODULE_PACKAGE_PUBLIC_KEY, LIVEMODULE_VERIFY_TLS_UPDATER != 0,
                                        LIVEMODULE_VERIFY_TLS_MODULES != 0, LIVEMODULE_CA_BUNDLE};
    return settings;
}

}  // namespace LiveModule
