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

int LogCapture::Count(const std::string& level, const std::string& text) const {
    const std::string all = Text(), line = " [" + level + "] " + text + "\n";
    int count = 0;
    for (std::size_t at = all.find(line); at != std::string::npos; at = all.find(line, at + 1)) ++count;
    return count;
}

}  // namespace lmtest
