// A log library that exports only DoLog: the factory must release it and keep logging off.
#include <cstdio>

#include "LiveModule/LiveModuleExports.h"

LIVEMODULE_EXPORT void DoLog(int, const char*, ...) {}
