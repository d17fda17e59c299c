#pragma once

#include <string>
#include <vector>

// What the factory tests need beyond the shared test support, on either system.
namespace lmtest::factory {

// Runs `program` with `arguments` (each passed as one argument, blanks kept), its output discarded,
// and waits for it. Its exit code, or -1 when it could not be started or did not exit normally.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);

// The handle of a library this process has loaded already (by the path it was loaded with), without
// taking a reference of its own; null when it is not loaded.
void* AlreadyLoaded(const std::string& path);

}  // namespace lmtest::factory
