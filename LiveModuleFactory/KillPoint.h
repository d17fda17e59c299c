#pragma once

// Named places in the updater's work where a test build can end the process at once, as a crash
// would, to show what the next start finds. Other builds compile the marks away.
#ifdef LIVEMODULE_TEST_HOOKS
namespace LiveModule {
// Ends the process at once (SIGKILL on Linux) when the environment variable LIVEMODULE_TEST_KILL_AT names this
// point ("name", or "name#N" for its N-th pass, counted from 1).
void KillPoint(const char* name);
}  // namespace LiveModule
#define LM_KILL_POINT(name) ::LiveModule::KillPoint(name)
#else
#define LM_KILL_POINT(name) ((void)0)
#endif
