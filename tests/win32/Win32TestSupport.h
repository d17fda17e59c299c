#pragma once

#include <functional>
#include <string>

// What the Windows tests share: real folders and the UI thread's message loop.
namespace lmtest::win32 {

// A fresh folder under the system's temporary folder (a path with "\"), removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Ends with "\".
    const std::string& path() const { return dir; }

private:
    std::string dir;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

// Runs the calling thread's message loop until `done` holds or the time is up; false on time-out.
bool PumpUntil(const std::function<bool()>& done, int timeoutMilliseconds);

// The folder of the running test program, with a trailing "\".
std::string ProgramFolder();

}  // namespace lmtest::win32
