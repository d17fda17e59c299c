#pragma once

#include <string>

// While the host runs a module's code for the first time in a start (loading its library: static
// constructors and LiveModuleLoad; then its Initialize), the module's library path stands in one
// journal file of the modules folder, ".lm-starting". A path still there at the next start names
// the module that took the host down: that start moves it into the module's folder as the module's
// own mark, and the module is skipped while its folder holds one. A new release replaces the folder,
// and the mark goes with the old one. The journal is rewritten in place, so a start makes and
// deletes no file per module.
// UI thread only, like all module loading.
namespace LiveModule {

class CrashMark {
public:
    // `library` is the module's library path, <modules>/<id>/64bit/<file>.
    explicit CrashMark(const std::string& library);
    ~CrashMark();  // the code returned: the journal is emptied
    CrashMark(const CrashMark&) = delete;
    CrashMark& operator=(const CrashMark&) = delete;

    // Turns what a start that died left in the journal into that module's mark. Once per start,
    // before any module is loaded.
    static void Recover(const std::string& modulesDir);
    // Whether the module whose library is at `library` took the host down and has no new release.
    static bool Present(const std::string& library);

private:
    std::string journal;  // empty when it could not be written (a read-only folder): no protection
};

}  // namespace LiveModule
