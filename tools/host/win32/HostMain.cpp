// lm-host.exe: the Windows host program. Loads the factory (and, when it answers -2, hands over to
// the factory its package brought, through tools/handover as the Linux lm-host does), runs the UI
// thread's message loop, and on Ctrl+C, the end of --run-for or the appearance of the --exit-when
// file sends the exit event, unloads the factory and exits 0. A failed start prints the error code
// and exits 2. Windows has no SIGUSR1: the appearance of the --update-when file runs an update cycle
// at once (test builds).
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "DeviceIdentity.h"
#include "FactoryHost.h"
#include "HostFrontend.h"
#include "LiveModule/LiveModuleExports.h"
#include "platform/FrontendApi.h"

namespace {

constexpr UINT kWatchPeriodMs = 100;
// Test builds: the exit code of a process killed at a handover step (128 + SIGKILL, as a shell
// reports the Linux host's death).
constexpr UINT kAbortedExitCode = 137;

struct Options {
    std::string factory;
    int env = 0;
    double runFor = -1;  // seconds; negative runs until told to stop
    std::string qtVersion = "6.3.1";
    std::string updateWhen;  // a file whose appearance runs an update cycle; it is deleted then
    std::string exitWhen;    // a file whose appearance ends the host
    bool printDeviceId = false;
    std::string abortAt;  // test builds: a handover step at which the process kills itself
};

void Report(LiveModule::handover::Level level, const std::string& text) {
    std::FILE* to = level == LiveModule::handover::Level::Info ? stdout : stderr;
    std::fprintf(to, "lm-host: %s\n", text.c_str());
    std::fflush(to);
}

void Usage() {
    std::fprintf(stderr,
                 "usage: lm-host --factory PATH [--env N] [--run-for SECONDS] [--qt-version V]\n"
                 "               [--update-when FILE] [--exit-when FILE]\n"
                 "       lm-host --print-device-id\n"
                 "  The host version is this program's own ProductVersion. An empty --qt-version makes the\n"
                 "  host report none. Ctrl+C, or FILE of --exit-when appearing, ends the host; FILE of\n"
                 "  --update-when appearing runs an update cycle at once (deleted then) when the factory was\n"
                 "  built with LIVEMODULE_TEST_HOOKS.\n"
#ifdef LIVEMODULE_TEST_HOOKS
                 "  --abort-at-handover STEP kills the process (exit code 137) at that step of a factory\n"
                 "  handover (released, staged, old-set-aside, new-in-place, package-removed, new-started).\n"
#endif
                 );
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
#ifdef LIVEMODULE_TEST_HOOKS
        else if (flag == "--abort-at-handover") options.abortAt = value;
#endif
        else return false;
    }
    return options.printDeviceId || !options.factory.empty();
}

DWORD g_uiThread = 0;
Options g_options;
LiveModule::handover::FactoryHost* g_host = nullptr;  // the running factory's, while the loop runs

BOOL WINAPI OnConsoleControl(DWORD) {
    PostThreadMessageA(g_uiThread, WM_QUIT, 0, 0);
    return TRUE;
}

void CALLBACK OnRunForEnd(HWND, UINT, UINT_PTR, DWORD) {
    PostQuitMessage(0);
}

// A symbol of the factory library that runs now (a handover replaces it).
void* Symbol(const char* name) {
    void* library = g_host ? g_host->Library() : nullptr;
    return library ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name)) : nullptr;
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

    // The factory's start, and on -2 the handover: the library is released before its folder is
    // renamed, which Windows refuses while a DLL in it is loaded.
    LiveModule::handover::FactoryHost host(g_options.factory, Report);
#ifdef LIVEMODULE_TEST_HOOKS
    if (!g_options.abortAt.empty()) {
        host.OnStep([](LiveModule::handover::Step step) {
            if (g_options.abortAt == LiveModule::handover::StepName(step)) {
                TerminateProcess(GetCurrentProcess(), kAbortedExitCode);
            }
        });
    }
#endif
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = host.Start(g_options.env, error);
    if (!factory) {
        // The handover has said why the library could not be loaded.
        if (error == LiveModule::handover::FactoryHost::kCannotLoad) return 2;
        std::printf("LoadLiveModuleFactory failed: error %d\n", error);
        return 2;
    }
    g_host = &host;
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
    g_host = nullptr;
    host.Stop();
    std::printf("lm-host: factory unloaded, exiting\n");
    return 0;
}
