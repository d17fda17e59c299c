// The parameters text of a launch split the way the copy program's command line is read, the same
// on every system.
#include "platform/ProcessLauncher.h"

namespace LiveModule::platform {

std::vector<std::string> SplitCommandLine(const std::string& parameters) {
    std::vector<std::string> arguments;
    std::string current;
    bool inQuotes = false;
    bool hasArgument = false;
    for (char c : parameters) {
        if (c == '"') {
            inQuotes = !inQuotes;
            hasArgument = true;  // "" is an empty argument
        } else if (!inQuotes && (c == ' ' || c == '\t')) {
            if (hasArgument) arguments.push_back(current);
            current.clear();
            hasArgument = false;
        } else {
            current += c;
            hasArgument = true;
        }
    }
    if (hasArgument) arguments.push_back(current);
    return arguments;
}

}  // namespace LiveModule::platform
