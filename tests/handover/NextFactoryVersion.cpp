// The newer factory release of the handover tests: the same code, another product version text.
#include "ProductVersion.h"

namespace LiveModule {
const char* FactoryProductVersion() {
    return LMTEST_NEXT_FACTORY_VERSION;
}
}  // namespace LiveModule
