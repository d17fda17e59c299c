// lm-host.exe: the Windows host program. Loads the factory, runs the UI thread's message loop, and
// on Ctrl+C, the end of --run-for or the appearance of the --exit-when file sends the exit event,
// unloads the factory and exits 0. A failed start prints the error code and exits 2. Windows has no
// SIGUSR1: the appearance of the --update-when file runs an update cycle at once (test builds).
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DeviceIdentity.h"
#include "HostFrontend.h"
#include "LiveModule/LiveModuleExports.h"
#include "platform/FrontendApi.h"

namespace {

constexpr UINT kWatchPeriodMs = 100;

struct Options {
    std::string factory;
    int env = 0;
    double runFor = -1;  // seconds; negative runs until told to stop
    std::string qtVersion = "6.3.1";
    std::string updateWhen;  // a file whose appearance runs an update cycle; it is deleted then
    std::string exitWhen;    // a file whose appearance ends the host
    bool printDeviceId = false;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: lm-host --factory PATH [--env N] [--run-for SECONDS] [--qt-version V]\n"
                 "               [--update-when FILE] [--exit-when FILE]\n"
                 "       lm-host --print-device-id\n"
                 "  The host version is this program's own ProductVersion. An empty --qt-version makes the\n"
                 "  host report none. Ctrl+C, or FILE of --exit-when appearing, ends the host; FILE of\n"
                 "  --update-when appearing runs an update cycle at once (deleted then) when the factory was\n"
                 "  built with LIVEMODULE_TEST_HOOKS.\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--print-device-id") {
            options.printDeviceId = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        std::string value = argv[++i];
        if (flag == "--factory") options.factory = value;
        else if (flag == "--env") options.env = std::atoi(value.c_str());
        else if (flag == "--run-for") options.runFor = std::atof(value.c_str());
        else if (flag == "--qt-version") options.qtVersion = value;
        else if (flag == "--update-when") options.updateWhen = value;
        else if (flag == "--exit-when") options.exitWhen = value;
        else return false;
    }
    return options.printDeviceId || !options.factory.empty();
}

DWORD g_uiThread = 0;
Options g_options;
HMODULE g_library = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    PostThreadMessageA(g_uiThread, WM_QUIT, 0, 0);
    return TRUE;
}

void CALLBACK OnRunForEnd(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

void* Symbol(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(g_library, name));
}

bool FileAppeared(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void CALLBACK OnWatch(HWND, UINT, UINT_PTR, DWORD) {
    if (FileAppeared(g_options.exitWhen)) {
        PostQuitMessage(0);
        return;
    }
    if (!FileAppeared(g_options.updateWhen)) return;
    DeleteFileA(g_options.updateWhen.c_str());
    auto fire = reinterpret_cast<void (*)()>(Symbol("LiveModuleTestFireUpdateTimer"));
    if (fire) {
        std::printf("lm-host: update cycle requested\n");
        std::fflush(stdout);
        fire();
    } else {
        std::printf("lm-host: this factory has no test hooks; the update timer decides\n");
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    if (!ParseOptions(argc, argv, g_options)) {
        Usage();
        return 64;
    }
    if (g_options.printDeviceId) {
        std::printf("%s\n%s\n", LiveModule::GetMacAddress(':').c_str(), LiveModule::MakeUserDevice().c_str());
        return 0;
    }
    LiveModule::host::SetQtVersion(g_options.qtVersion);

    // The thread's message queue exists before Ctrl+C can post to it: a stop during the factory's
    // blocking start-up waits for the loop instead of killing the process half-way.
    g_uiThread = GetCurrentThreadId();
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    g_library = LoadLibraryA(g_options.factory.c_str());
    if (!g_library) {
        std::fprintf(stderr, "lm-host: cannot load %s: error %lu\n", g_options.factory.c_str(), GetLastError());
        return 2;
    }
    auto load = reinterpret_cast<LoadLiveModuleFactoryFunc>(Symbol("LoadLiveModuleFactory"));
    auto unload = reinterpret_cast<UnloadLiveModuleFactoryFunc>(Symbol("UnloadLiveModuleFactory"));
    if (!load || !unload) {
        std::fprintf(stderr, "lm-host: %s lacks the factory exports\n", g_options.factory.c_str());
        return 2;
    }

    int error = 0;
    LiveModule::ILiveModuleFactory* factory = load(g_options.env, nullptr, &error);
    if (!factory) {
        std::printf("LoadLiveModuleFactory failed: error %d\n", error);
        return 2;
    }
    std::printf("lm-host: factory started (env %d, host %s, Qt %s)\n", g_options.env, factory->GetHostVersion(),
                factory->GetQtVersion());
    std::fflush(stdout);

    if (g_options.runFor >= 0) SetTimer(nullptr, 0, static_cast<UINT>(g_options.runFor * 1000), OnRunForEnd);
    if (!g_options.updateWhen.empty() || !g_options.exitWhen.empty()) SetTimer(nullptr, 0, kWatchPeriodMs, OnWatch);
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
    unload(factory);
    std::printf("lm-host: factory unloaded, exiting\n");
    return 0;
}
