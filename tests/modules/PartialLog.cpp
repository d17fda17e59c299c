// A log library that exports only DoLog: the factory must release it and keep logging off.
#include <cstdio>

extern "C" __attribute__((visibility("default"))) void DoLog(int, const char*, ...) {}
