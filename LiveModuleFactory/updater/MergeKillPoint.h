#pragma once

#include <cstddef>

namespace LiveModule {

#ifdef LIVEMODULE_TEST_HOOKS
// Test builds only: ends the process at once (SIGKILL) when a merge reaches the step that the
// environment variable LIVEMODULE_TEST_KILL_IN_MERGE names, so that a test can stop a host at an
// exact point of its start-up. Step i is before catalogue entry i; step N (the catalogue's length)
// is after the last entry, before the record is written; step N + 1 is after the write.
void MergeKillPoint(std::size_t step);
#else
inline void MergeKillPoint(std::size_t) {}
#endif

}  // namespace LiveModule
