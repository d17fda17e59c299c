#pragma once

#include <string>

#include "platform/DynamicLibrary.h"
#include "TestSupport.h"

namespace lmtest {

// The real log library, writing into a folder of its own while the object lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line written so far.
    std::string Text() const;
    // How many lines are exactly "[level] text" after their time stamp (level "info" or "error").
    int Count(const std::string& level, const std::string& text) const;
    // How many lines begin with "[level] prefix" after their time stamp.
    int CountStarting(const std::string& level, const std::string& prefix) const;

private:
    TempDir dir{"lmtest-log"};
    LiveModule::platform::LibraryHandle library = nullptr;
};

}  // namespace lmtest
