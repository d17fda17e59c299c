#include "LogCapture.h"

#include <filesystem>

#include "LogBridge.h"

namespace lmtest {

LogCapture::LogCapture() {
    LiveModule::LoadLogLibrary(LMTEST_FACTORY_DIR "/", dir.path() + "/", library);
}

LogCapture::~LogCapture() {
    LiveModule::ReleaseLogLibrary(library);
}

std::string LogCapture::Text() const {
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(dir.path())) text += ReadFile(file.path());
    return text;
}

namespace {
int Occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}
}  // namespace

int LogCapture::Count(const std::string& level, const std::string& text) const {
    return Occurrences(Text(), " [" + level + "] " + text + "\n");
}

int LogCapture::CountStarting(const std::string& level, const std::string& prefix) const {
    return Occurrences(Text(), " [" + level + "] " + prefix);
}

}  // namespace lmtest
