// Copies files that modules need beside the host executable, through the external copy program.
#include "FileUtils.h"
#include "LiveModuleFactory.h"
#include "LogBridge.h"
#include "platform/FileSystem.h"
#include "platform/ProcessInfo.h"
#include "platform/ProcessLauncher.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
const std::string kCopyProgram = std::string("FileOperation") + platform::kProgramSuffix;
}

void LiveModuleFactory::DeployHostDependencies() {
    if (modulesDir.empty()) return;
    std::string source;
    for (const std::string& tag : qtVersions) {
        const std::string sep = platform::kPathSeparatorText;
        std::string folder = modulesDir + "MainProgramDeps" + sep + "64bit" + sep + tag + sep;
        if (PathExists(folder)) {
            source = folder;
            break;
        }
    }
    if (source.empty()) return;

    std::string executable;
    if (!platform::GetHostExecutablePath(executable)) return;
    const size_t last = executable.find_last_of(platform::kPathSeparators);
    if (last == std::string::npos) return;
    const std::string hostDir = executable.substr(0, last);

    std::vector<platform::DirEntry> entries;
    platform::ListDirectory(source, entries);
    for (const platform::DirEntry& item : entries) {
        if (!item.isRegularFile || item.name.empty() || item.name == "." || item.name == "..") continue;
        const std::string src = source + item.name;
        const std::string dst = hostDir + platform::kPathSeparator + item.name;
        if (PathExists(dst)) continue;  // an existing file is never replaced
        LM_LOG(kLogInfo, "[LiveModuleFactory] Copy app deps begin {src: %s, dst:%s}", src.c_str(), dst.c_str());
        RunFileOperation(src, dst);
        LM_LOG(kLogInfo, "[LiveModuleFactory] Copy app deps end");
    }
}

void LiveModuleFactory::RunFileOperation(const std::string& src, const std::string& dst) {
    const std::string program = factoryDir + kCopyProgram;
    if (!PathExists(program)) return;
    platform::RunHiddenAndWait(program, "-cf \"" + src + "\" \"" + dst + "\"");
}

}  // namespace LiveModule
