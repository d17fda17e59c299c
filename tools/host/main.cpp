// lm-host: stands in for the streaming application and its front-end plug-in. Loads the factory,
// runs the UI loop, and on SIGINT, SIGTERM or the end of --run-for sends the exit event, unloads the
// factory and exits 0. A failed start prints the error code, the factory's log file and its last
// error line, and exits 2.
#include <dlfcn.h>
#include <glib-unix.h>
#include <glib.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DeviceIdentity.h"
#include "FactoryHost.h"
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
    std::string abortAt;  // test builds: a handover step at which the process kills itself
};

void Report(LiveModule::handover::Level level, const std::string& text) {
    std::FILE* to = level == LiveModule::handover::Level::Info ? stdout : stderr;
    std::fprintf(to, "lm-host: %s\n", text.c_str());
    std::fflush(to);
}

void Usage() {
    std::fprintf(stderr,
                 "usage: lm-host --factory PATH [--env N] [--run-for SECONDS] [--host-version V] [--qt-version V]\n"
                 "       lm-host --print-device-id\n"
                 "  An empty --host-version or --qt-version makes the host report none.\n"
                 "  --print-device-id prints the device identifier as the catalogue query sends it and\n"
                 "  the User-Device header value, one per line.\n"
                 "  SIGINT or SIGTERM ends the host; SIGUSR1 runs an update cycle at once when the factory\n"
                 "  was built with LIVEMODULE_TEST_HOOKS.\n"
#ifdef LIVEMODULE_TEST_HOOKS
                 "  --abort-at-handover STEP kills the process at that step of a factory handover (released,\n"
                 "  staged, old-set-aside, new-in-place, package-removed, new-started).\n"
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
        else if (flag == "--host-version") options.hostVersion = value;
        else if (flag == "--qt-version") options.qtVersion = value;
#ifdef LIVEMODULE_TEST_HOOKS
        else if (flag == "--abort-at-handover") options.abortAt = value;
#endif
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

    LiveModule::handover::FactoryHost host(options.factory, Report);
#ifdef LIVEMODULE_TEST_HOOKS
    if (!options.abortAt.empty()) {
        host.OnStep([&options](LiveModule::handover::Step step) {
            if (options.abortAt == LiveModule::handover::StepName(step)) raise(SIGKILL);
        });
    }
#endif
    int error = 0;
    LiveModule::ILiveModuleFactory* factory = host.Start(options.env, error);
    if (!factory) {
        // The handover has said why the library could not be loaded; there is no factory log to show.
        if (error == LiveModule::handover::FactoryHost::kCannotLoad) return 2;
        std::fputs(LiveModule::host::StartFailureReport(options.factory, error).c_str(), stdout);
        return 2;
    }
    g_unix_signal_add(SIGUSR1, UpdateNow, host.Library());
    std::printf("lm-host: factory started (env %d, host %s, Qt %s)\n", options.env, factory->GetHostVersion(),
                factory->GetQtVersion());
    std::fflush(stdout);

    if (options.runFor >= 0) g_timeout_add(static_cast<guint>(options.runFor * 1000), Quit, loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);

    LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
    host.Stop();
    std::printf("lm-host: factory unloaded, exiting\n");
    return 0;
}
