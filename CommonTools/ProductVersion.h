#pragma once

namespace LiveModule {

// The factory's product version text as built (the Begin line, net_request's version, the
// User-Device value): the LIVEMODULE_FACTORY_VERSION build setting, "1.0.0.5" unless set.
const char* FactoryProductVersion();

}  // namespace LiveModule
