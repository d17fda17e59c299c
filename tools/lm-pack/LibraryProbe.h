#pragma once

#include <string>
#include <vector>

namespace LiveModule::pack {

struct ProbeResult {
    std::vector<std::string> problems;  // plain words, without the library's name
    std::string id, version;            // as the module reported them, when it got that far
};

// Loads a module library the way the host does (dlopen, both exports, LiveModuleLoad with a stand-in
// factory, the id and version checks, LiveModuleUnload) in a child process, so that a module that
// crashes, ends the process or hangs is reported instead of taking lm-pack down.
ProbeResult ProbeLibrary(const std::string& path, const std::string& expectedId, const std::string& qtTag,
                         int timeoutSeconds = 30);

}  // namespace LiveModule::pack
