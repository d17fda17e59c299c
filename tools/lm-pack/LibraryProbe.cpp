#include "LibraryProbe.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <sstream>

#include "LiveModule/LiveModule.h"
#include "StandInFactory.h"

namespace LiveModule::pack {

namespace {

// Child to parent, one record a line: a kind letter, a space, the text.
enum Kind : char { kStage = 'S', kProblem = 'P', kId = 'I', kVersion = 'V', kEnd = 'E' };

class Channel {
public:
    explicit Channel(int fd) : fd(fd) {}

    void Send(Kind kind, std::string text) {
        for (char& c : text) {
            if (c == '\n' || c == '\r') c = ' ';
        }
        const std::string line = std::string(1, kind) + " " + text + "\n";
        for (size_t sent = 0; sent < line.size();) {
            const ssize_t n = write(fd, line.data() + sent, line.size() - sent);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }
    void Stage(const std::string& stage) {
        current = stage;
        Send(kStage, stage);
    }
    void Problem(const std::string& text) { Send(kProblem, text); }
    const std::string& CurrentStage() const { return current; }

private:
    int fd;
    std::string current;
};

void CheckModule(Channel& out, const std::string& path, const std::string& expectedId, const std::string& qtTag) {
    out.Stage("while loading the library (dlopen)");
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        out.Problem(std::string("cannot be loaded: ") + (reason ? reason : "the system gives no reason"));
        return;
    }
    auto load = reinterpret_cast<LiveModuleLoadFunc>(dlsym(library, "LiveModuleLoad"));
    auto unload = reinterpret_cast<LiveModuleUnloadFunc>(dlsym(library, "LiveModuleUnload"));
    for (auto [found, name] : {std::pair<bool, const char*>{load != nullptr, "LiveModuleLoad"}, {unload != nullptr, "LiveModuleUnload"}}) {
        if (!found) {
            out.Problem(std::string("does not export ") + name +
                        "; the host refuses a library without both LiveModuleLoad and LiveModuleUnload "
                        "(\"Get interface failed\"); declare it with LIVEMODULE_EXPORT");
        }
    }
    if (!load || !unload) return;

    StandInFactory factory(qtTag);
    out.Stage("in LiveModuleLoad");
    ILiveModule* module = load(&factory);
    if (!module) {
        out.Problem("LiveModuleLoad returned no module (null); the host reports \"Create module instance failed\"");
        return;
    }
    out.Stage("in GetId");
    const char* id = module->GetId();
    if (!id || !*id) {
        out.Problem(std::string("GetId returned ") + (id ? "an empty id" : "null") + "; the host refuses a module without an id");
    } else {
        out.Send(kId, id);
        if (expectedId != id) {
            out.Problem(std::string("id differs from the folder: the module reports '") + id + "' but the package is '" +
                        expectedId + "'; the host finds a module by the id it reports, so the top folder must carry it");
        }
    }
    out.Stage("in GetApiVersion");
    const uint64_t api = module->GetApiVersion();
    if (api < kInterfaceVersion) {
        out.Problem("built against a too-old API: GetApiVersion reports " + std::to_string(api) + ", the host accepts " +
                    std::to_string(kInterfaceVersion) + " or newer; rebuild it against the current LiveModule headers");
    }
    out.Stage("in GetFactoryApiVersion");
    const uint64_t factoryApi = module->GetFactoryApiVersion();
    if (factoryApi > kInterfaceVersion) {
        out.Problem("needs a newer factory: GetFactoryApiVersion reports " + std::to_string(factoryApi) +
                    ", the host's factory offers " + std::to_string(kInterfaceVersion));
    }
    out.Stage("in GetVersion");
    const char* version = module->GetVersion();
    if (version) {
        out.Send(kVersion, version);
    } else {
        out.Problem("GetVersion returned null; the host prints the version when it loads the module");
    }
    out.Stage("in LiveModuleUnload");
    unload(module);
    // Static destructors run here, as they would when the host ends.
    out.Stage("while unloading the library (dlclose)");
    dlclose(library);
}

[[noreturn]] void RunChild(int fd, const std::string& path, const std::string& expectedId, const std::string& qtTag) {
    // What the module prints must not mix with lm-pack's own report on stdout.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    Channel out(fd);
    try {
        CheckModule(out, path, expectedId, qtTag);
    } catch (const std::exception& error) {
        out.Problem("let an exception escape " + out.CurrentStage() + " (" + error.what() +
                    "); errors must not cross the module boundary as exceptions, the host would end");
    } catch (...) {
        out.Problem("let an exception escape " + out.CurrentStage() + "; the host would end");
    }
    out.Send(kEnd, "");
    _exit(0);
}

// Everything the child wrote until it ended or the deadline passed. The child, and any process the
// module started, is gone afterwards.
std::string Collect(int fd, pid_t child, int timeoutSeconds, bool& timedOut, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    std::string received;
    bool closed = false;
    auto drain = [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<size_t>(n));
        if (n == 0) closed = true;
    };
    timedOut = false;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    // The child's end is what counts: a process the module started may hold the pipe open longer, and
    // a module may close it early. The ended child stays a zombie until the end, so its process group,
    // with whatever the module started, can be killed without hitting anybody else.
    while (true) {
        pollfd wait{fd, POLLIN, 0};
        poll(closed ? nullptr : &wait, closed ? 0 : 1, closed ? 10 : 100);
        if (!closed) drain();
        siginfo_t ended{};
        if (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == child) break;
        if (std::chrono::steady_clock::now() > deadline) {
            timedOut = true;
            break;
        }
    }
    kill(-child, SIGKILL);
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!closed) drain();
    return received;
}

}  // namespace

ProbeResult ProbeLibrary(const std::string& path, const std::string& expectedId, const std::string& qtTag, int timeoutSeconds) {
    ProbeResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        result.problems.push_back(std::string("cannot be checked: no pipe (") + std::strerror(errno) + ")");
        return result;
    }
    std::fflush(nullptr);  // or the child would write lm-pack's buffered output a second time
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        result.problems.push_back(std::string("cannot be checked: no child process (") + std::strerror(errno) + ")");
        close(fds[0]);
        close(fds[1]);
        return result;
    }
    if (child == 0) {
        // Its own group keeps what the module starts within reach; outside the terminal's group it
        // misses a Ctrl-C, so it goes when lm-pack goes.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
        close(fds[0]);
        RunChild(fds[1], path, expectedId, qtTag);
    }
    setpgid(child, child);  // also here, so the group exists whichever runs first
    close(fds[1]);
    bool timedOut = false;
    int status = 0;
    std::istringstream lines(Collect(fds[0], child, timeoutSeconds, timedOut, status));
    close(fds[0]);

    std::string stage = "before it was loaded";
    bool finished = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.size() < 2) continue;
        const std::string text = line.substr(2);
        switch (line[0]) {
            case kStage: stage = text; break;
            case kProblem: result.problems.push_back(text); break;
            case kId: result.id = text; break;
            case kVersion: result.version = text; break;
            case kEnd: finished = true; break;
            default: break;
        }
    }
    if (finished) return result;
    if (timedOut) {
        result.problems.push_back("hung " + stage + ": no answer within " + std::to_string(timeoutSeconds) +
                                  " s; the host would hang there too");
    } else if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        result.problems.push_back("crashed " + stage + ": killed by signal " + std::to_string(signal) + " (" +
                                  strsignal(signal) + "); it would take the host down");
    } else {
        result.problems.push_back("ended the process " + stage + " (exit code " + std::to_string(WEXITSTATUS(status)) +
                                  ") instead of returning; it would end the host");
    }
    return result;
}

}  // namespace LiveModule::pack
