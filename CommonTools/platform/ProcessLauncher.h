#pragma once

#include <string>
#include <vector>

namespace LiveModule::platform {

// Splits a parameters text the way a command line is split into arguments: blanks separate, double
// quotes group (blanks inside quotes are kept, the quotes themselves are dropped).
std::vector<std::string> SplitCommandLine(const std::string& parameters);

// Starts `program` with the split parameters, without a window, and waits for it to end.
// False when it could not be started; its exit code is not examined.
bool RunHiddenAndWait(const std::string& program, const std::string& parameters);

}  // namespace LiveModule::platform
