// A small log library: one line per call, "time [level] text", appended to a dated file in the folder
// given to InitilizeLog. Safe to call from several threads; shared by every user in the process.
#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/PathStyle.h"

#ifdef _WIN32
#define LOG_EXPORT extern "C" __declspec(dllexport)
#else
#define LOG_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::mutex g_lock;
std::string g_directory;  // guarded by g_lock
FILE* g_file = nullptr;   // guarded by g_lock; the file of g_fileDay
int g_fileDay = -1;       // guarded by g_lock; yyyymmdd of g_file
int g_users = 0;          // guarded by g_lock; InitilizeLog calls not yet matched by UnInitilizeLog

// Opens the file for the given day, closing the previous day's one. Holds g_lock.
void OpenFileFor(const tm& local) {
    int day = (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday;
    if (g_file && day == g_fileDay) return;
    if (g_file) fclose(g_file);
    char name[64];
    snprintf(name, sizeof name, "LiveModule_%08d.log", day);
    g_file = fopen((g_directory + name).c_str(), "a");
    g_fileDay = day;
}

}  // namespace

LOG_EXPORT void InitilizeLog(const char* logDirectory, const char* /*second*/) {
    std::lock_guard<std::mutex> guard(g_lock);
    ++g_users;
    if (g_users > 1) return;
    g_directory = logDirectory ? logDirectory : "";
    if (!g_directory.empty() && g_directory.back() != LiveModule::platform::kPathSeparator) {
        g_directory += LiveModule::platform::kPathSeparator;
    }
}

LOG_EXPORT void UnInitilizeLog() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users == 0 || --g_users > 0) return;
    if (g_file) fclose(g_file);
    g_file = nullptr;
    g_fileDay = -1;
}

LOG_EXPORT void DoLog(int level, const char* format, ...) {
    if (!format) return;
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    const time_t seconds = now.tv_sec;  // timeval counts in long on Windows
    localtime_r(&seconds, &local);

    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);

    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users == 0) return;
    OpenFileFor(local);
    if (!g_file) return;
    fprintf(g_file, "%s.%03ld [%s] %s\n", stamp, static_cast<long>(now.tv_usec / 1000), level >= 2 ? "error" : "info",
            text.c_str());
    fflush(g_file);
}
