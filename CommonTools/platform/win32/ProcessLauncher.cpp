#include "platform/ProcessLauncher.h"

#include <windows.h>
#include <shellapi.h>

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

bool RunHiddenAndWait(const std::string& program, const std::string& parameters) {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    // No error dialog: a missing program must not stop the host's UI thread behind a message box.
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = nullptr;  // the default verb
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!::ShellExecuteExA(&info)) return false;
    if (info.hProcess) {
        ::WaitForSingleObject(info.hProcess, INFINITE);
        ::CloseHandle(info.hProcess);
    }
    return true;
}

}  // namespace LiveModule::platform
