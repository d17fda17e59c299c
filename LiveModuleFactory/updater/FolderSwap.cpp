#include "updater/FolderSwap.h"

#include <sys/stat.h>

#include <vector>

#include "FileUtils.h"
#include "KillPoint.h"
#include "platform/FileSystem.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {

// Nothing installed may be changed by other users, whatever the package or the umask said.
bool ClearWriteForOthers(const std::string& path) {
    bool ok = platform::ClearPermissionBits(path, S_IWOTH);
    if (!platform::IsDirectory(path) || platform::IsLink(path)) return ok;
    std::vector<platform::DirEntry> entries;
    if (!platform::ListDirectory(path, entries)) return false;
    for (const platform::DirEntry& entry : entries) {
        if (entry.name == "." || entry.name == "..") continue;
        ok = ClearWriteForOthers(path + platform::kPathSeparator + entry.name) && ok;
    }
    return ok;
}

}  // namespace

SwapResult ReplaceFolder(const std::string& source, const std::string& target, const std::string& work) {
    if (!DeleteDir(work)) return SwapResult::CopyFailed;
    // The copy reads every file as this process will: an entry it cannot read fails here, before
    // anything installed is touched.
    if (!CopyDir(source, work, true) || !ClearWriteForOthers(work)) {
        DeleteDir(work);
        return SwapResult::CopyFailed;
    }
    LM_KILL_POINT("install.assembled");
    const bool present = platform::Exists(target) || platform::IsLink(target);
    const bool swapped = present ? platform::ExchangePaths(work, target) : platform::MovePath(work, target);
    if (!swapped) {
        DeleteDir(work);
        return SwapResult::SwapFailed;
    }
    LM_KILL_POINT("install.swapped");
    DeleteDir(work);  // the old release
    return SwapResult::Installed;
}

}  // namespace LiveModule
