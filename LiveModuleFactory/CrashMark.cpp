#include "CrashMark.h"

#include "platform/FileContent.h"
#include "platform/FileSystem.h"
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {

constexpr const char* kMarkName = ".lm-starting";

std::string MarkPath(const std::string& library) {
    const std::string sep = platform::kPathSeparatorText;
    const std::size_t libraries = library.rfind(sep + "64bit" + sep);
    const std::size_t folderEnd = libraries == std::string::npos ? library.find_last_of(platform::kPathSeparators) : libraries;
    return library.substr(0, folderEnd) + sep + kMarkName;
}

}  // namespace

CrashMark::CrashMark(const std::string& library) : file(MarkPath(library)) {
    // A mark that cannot be written only costs the protection, never the module.
    platform::OutputFile mark;
    if (!mark.CreateReplacing(file) || !mark.Close()) file.clear();
}

CrashMark::~CrashMark() {
    if (!file.empty()) platform::RemoveFile(file);
}

bool CrashMark::Present(const std::string& library) {
    return platform::Exists(MarkPath(library));
}

}  // namespace LiveModule
