#include "platform/ProcessLauncher.h"

#include <windows.h>
#include <shellapi.h>

namespace LiveModule::platform {

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
