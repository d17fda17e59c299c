#pragma once

#include <string>

// A mark in a module's folder while the host runs that module's code for the first time in a
// start: loading its library (static constructors, LiveModuleLoad) and its Initialize. A mark that
// is still there at the next start means the module took the host down. A new release replaces
// the folder, and the mark goes with the old one.
namespace LiveModule {

class CrashMark {
public:
    // `library` is the module's library path, <folder>/64bit/<file>.
    explicit CrashMark(const std::string& library);
    ~CrashMark();  // the code returned: the mark goes
    CrashMark(const CrashMark&) = delete;
    CrashMark& operator=(const CrashMark&) = delete;

    // Whether the module whose library is at `library` was marked when the host last died.
    static bool Present(const std::string& library);

private:
    std::string file;  // empty when the mark could not be written (a read-only folder)
};

}  // namespace LiveModule
