#pragma once

#include <string>
#include <vector>

// What the factory tests need beyond the shared test support, on either system.
namespace lmtest::factory {

// Runs `program` with `arguments` (each passed as one argument, blanks kept), its output discarded,
// and waits for it. Its exit code, or -1 when it could not be started or did not exit normally.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace lmtest::factory
