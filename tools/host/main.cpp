// lm-host: stands in for the streaming application and its front-end plug-in. Loads the factory,
// runs the UI loop, and on SIGINT, SIGTERM or the end of --run-for sends the exit event, unloads the
// factory and exits 0. A failed start prints the error code, the factory's log file and its last
// error line, and exits 2.
#include <dlfcn.h>
#include <glib-unix.h>
#include <glib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DeviceIdentity.h"
#include "HostFrontend.h"
#include "LiveModule/LiveModuleExports.h"
#include "StartFailureReport.h"
#include "platform/FrontendApi.h"

namespace {

struct Options {
    std::string factory;
    int env = 0;
    double runFor = -1;  // seconds; negative runs until a signal
    std::string hostVersion = "30.0.0";
    std::string qtVersion = "6.3.1";
    bool printDeviceId = false;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: lm-host --factory PATH [--env N] [--run-for SECONDS] [--host-version V] [--qt-version V]\n"
                 "       lm-host --print-device-id\n"
                 "  An empty --host-version or --qt-version makes the host report none.\n"
                 "  --print-device-id prints the device identifier as the catalogue query sends it and\n"
                 "  the User-Device header value, one per line.\n"
                 "  SIGINT or SIGTERM ends the host; SIGUSR1 runs an update cycle at once when the factory\n"
                 "  was built with LIVEMODULE_TEST_HOOKS.\n");
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
        else if (flag == "--host-version") options.hostVersion = value;
        else if (flag == "--qt-version") options.qtVersion = value;
        else return false;
    }
    return options.printDeviceId || !options.factory.empty();
}

gboolean Quit(gpointer loop) {
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}

// SIGUSR1: run an update cycle now, through the factory's test hook when it was built with one.
gboolean UpdateNow(gpointer library) {
    auto fire = reinterpret_cast<void (*)()>(dlsym(library, "LiveModuleTestFireUpdateTimer"));
    if (fire) {
        std::printf("lm-host: update cycle requested\n");
        fire();
    } else {
        std::printf("lm-host: this factory has no test hooks; the update timer decides\n");
    }
    std::fflush(stdout);
    return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return 64;
    }
    if (options.printDeviceId) {
        std::printf("%s\n%s\n", LiveModule::GetMacAddress(':').c_str(), LiveModule::MakeUserDevice().c_str());
        return 0;
    }
    LiveModule::host::SetHostVersion(options.hostVersion);
    LiveModule::host::SetQtVersion(options.qtVersion);

    // The signal sources come first: a signal during the factory's blocking start-up waits for the
    // loop instead of killing the process half-way.
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGINT, Quit, loop);
    g_unix_signal_add(SIGTERM, Quit, loop);

    void* library = dlopen(options.factory.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "lm-host: cannot load %s: %s\n", options.factory.c_str(), dlerror());
        return 2;
    }
    auto load = reinterpret_cast<LoadLiveModuleFactoryFunc>(dlsym(library, "LoadLiveModuleFactory"));
    auto unload = reinterpret_cast<UnloadLiveModuleFactoryFunc>(dlsym(library, "UnloadLiveModuleFactory"));
    if (!load || !unload) {
        std::fprintf(stderr, "lm-host: %s lacks the factory exports\n", options.factory.c_str());
        return 2;
    }
    g_unix_signal_add(SIGUSR1, UpdateNow, library);

    int error = 0;
    LiveModule::ILiveModuleFactory* factory = load(options.env, nullptr, &error);
    if (!factory) {
        std::fputs(LiveModule::host::StartFailureReport(options.factory, error).c_str(), stdout);
        return 2;
    }
    std::printf("lm-host: factory started (env %d, host %s, Qt %s)\n", options.env, factory->GetHostVersion(),
                factory->GetQtVersion());
    std::fflush(stdout);

    if (options.runFor >= 0) g_timeout_add(static_cast<guint>(options.runFor * 1000), Quit, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);

    LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
    unload(factory);
    std::printf("lm-host: factory unloaded, exiting\n");
    return 0;
}
