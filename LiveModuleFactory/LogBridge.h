#pragma once

#include <string>

#include "platform/DynamicLibrary.h"

namespace LiveModule {

// The external log library's entry points, shared by the whole process. Every log site goes through
// LogFormat or LogText, which drop the line while the library is not loaded.
using InitilizeLogFunc = void (*)(const char* logDirectory, const char* second);
using UnInitilizeLogFunc = void (*)();
typedef void DoLogSignature(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
using DoLogFunc = DoLogSignature*;

constexpr int kLogInfo = 1;
constexpr int kLogError = 2;

// Current DoLog entry point, or null while logging is off.
DoLogFunc LogEntry();

// Loads the log library from factoryDir (by its bare name when factoryDir is empty), resolves the three
// entry points and initialises it with logDir. On any failure the library is released and logging
// stays off. `handle` is the caller's (the factory's) reference to the library.
void LoadLogLibrary(const std::string& factoryDir, const std::string& logDir, platform::LibraryHandle& handle);

// Shuts the log library down and releases the caller's reference. When no other reference is alive
// the entry points are cleared too, so that no line reaches a released library.
void ReleaseLogLibrary(platform::LibraryHandle& handle);

// Writes a line composed at run time as it stands: it is never interpreted as a format.
void LogText(int level, const std::string& line);

// File name of the log library inside the factory directory.
const char* LogLibraryFileName();

}  // namespace LiveModule

// printf-style log line; the arguments are checked against the format at compile time.
#define LM_LOG(level, ...)                                        \
    do {                                                          \
        if (::LiveModule::DoLogFunc log_ = ::LiveModule::LogEntry()) \
            log_((level), __VA_ARGS__);                           \
    } while (0)
