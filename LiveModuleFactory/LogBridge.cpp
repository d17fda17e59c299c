#include "LogBridge.h"

#include <atomic>
#include "platform/PathStyle.h"

namespace LiveModule {

namespace {
// Written on the UI thread during factory construction and teardown; atomics keep reads from any
// thread well defined.
std::atomic<InitilizeLogFunc> g_initilizeLog{nullptr};
std::atomic<UnInitilizeLogFunc> g_unInitilizeLog{nullptr};
// Stored without the format attribute, which a template argument cannot carry.
using StoredDoLog = void (*)(int level, const char* format, ...);
std::atomic<StoredDoLog> g_doLog{nullptr};
// Number of factories holding a reference to the log library.
std::atomic<int> g_libraryUsers{0};

void ClearEntryPoints() {
    g_initilizeLog = nullptr;
    g_unInitilizeLog = nullptr;
    g_doLog = nullptr;
}
}  // namespace

const char* LogLibraryFileName() {
    static const std::string name = std::string("Log") + platform::kLibrarySuffix;
    return name.c_str();
}

DoLogFunc LogEntry() {
    return g_doLog.load();
}

void LoadLogLibrary(const std::string& factoryDir, const std::string& logDir, platform::LibraryHandle& handle) {
    if (handle) return;
    handle = platform::LoadLibrary(factoryDir + LogLibraryFileName());
    if (!handle) return;
    auto initilize = reinterpret_cast<InitilizeLogFunc>(platform::GetLibrarySymbol(handle, "InitilizeLog"));
    auto unInitilize = reinterpret_cast<UnInitilizeLogFunc>(platform::GetLibrarySymbol(handle, "UnInitilizeLog"));
    auto doLog = reinterpret_cast<StoredDoLog>(platform::GetLibrarySymbol(handle, "DoLog"));
    if (!initilize || !unInitilize || !doLog) {
        platform::FreeLibrary(handle);
        handle = nullptr;
        ClearEntryPoints();
        return;
    }
    g_initilizeLog = initilize;
    g_unInitilizeLog = unInitilize;
    g_doLog = doLog;
    ++g_libraryUsers;
    initilize(logDir.c_str(), "");
}

void ReleaseLogLibrary(platform::LibraryHandle& handle) {
    if (UnInitilizeLogFunc unInitilize = g_unInitilizeLog.load()) unInitilize();
    if (!handle) return;
    if (--g_libraryUsers == 0) ClearEntryPoints();
    platform::FreeLibrary(handle);
    handle = nullptr;
}

void LogText(int level, const std::string& line) {
    if (DoLogFunc log = LogEntry()) log(level, "%s", line.c_str());
}

}  // namespace LiveModule
