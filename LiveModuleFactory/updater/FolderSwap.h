#pragma once

#include <string>

// Replacing an installed folder with a new release so that, at every moment (a crash included), the
// folder's name refers to the old release or to the new one, whole.
namespace LiveModule {

enum class SwapResult {
    Installed,
    CopyFailed,  // the new release could not be assembled (unreadable entry, full disk): nothing changed
    SwapFailed,  // it could not be put in place: nothing changed
};

// Copies `source` to `work` (a fresh folder on the target's file system), takes the write bit for
// others off everything in it, and exchanges it with `target` in one rename (or renames it there
// when there is no target yet). The old release ends in `work` and is deleted. `work` is scratch
// space at every moment: whoever finds it left over may delete it.
SwapResult ReplaceFolder(const std::string& source, const std::string& target, const std::string& work);

}  // namespace LiveModule
