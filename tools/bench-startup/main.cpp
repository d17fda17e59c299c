// bench-startup: how long LoadLiveModuleFactory takes over trees of N current modules (installed,
// recorded, and listed by a loopback catalogue at their installed versions, so nothing is fetched),
// against the floor: one catalogue GET plus dlopen, dlsym and LiveModuleLoad of each module library,
// measured alone. Every measurement runs in a fresh process (a library stays mapped once loaded);
// runs of the two kinds and of every N are interleaved, and min and median are printed per N with
// their ratios and each kind's peak resident memory.
#include <curl/curl.h>
#include <dirent.h>
#include <dlfcn.h>
#include <time.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CatalogueServer.h"
#include "HostFrontend.h"
#include "LiveModule/LiveModuleExports.h"
#include "platform/FrontendApi.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kTag = "6_3_1_0";

std::string ModuleName(int index) {
    char name[16];
    std::snprintf(name, sizeof name, "m%04d", index);
    return name;
}

// CPU time of every thread of this process so far, in microseconds: unlike the wall clock, it does
// not count the time other programs on a loaded machine hold the processors.
long long ProcessCpuMicros() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

// The child's answer: wall and CPU microseconds of the measured part.
void WriteResult(const fs::path& result, Clock::duration wall, long long cpuMicros) {
    std::ofstream(result) << std::chrono::duration_cast<std::chrono::microseconds>(wall).count() << " " << cpuMicros;
}

std::string Text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The catalogue answer: the factory at the recorded version, every module at its installed one.
std::string Manifest(int count) {
    std::string data = R"({"name": "LiveModuleFactory", "orgname": "LiveModuleFactory.zip", "resver": "0"})";
    for (int i = 0; i < count; ++i) {
        const std::string name = ModuleName(i);
        data += R"(, {"name": "Module )" + name + R"(", "orgname": ")" + name + R"(.zip", "resver": "1", "pfile": )"
                R"("{base}packages/)" + name + R"(.zip", "order": ")" + std::to_string(i % 7) + R"(", "preinstall": 1})";
    }
    return R"({"error": 0, "data": [)" + data + "]}";
}

// root/modules/ with the factory's folder, N package folders each holding a copy of the module
// library (copies, not links: the loader would take links to one file for one library), and the
// record of them all.
void BuildTree(const fs::path& root, int count, const fs::path& factoryDir) {
    const fs::path modules = root / "modules", factory = modules / "LiveModuleFactory" / "64bit";
    fs::create_directories(factory);
    for (const char* file : {"LiveModuleFactory.so", "Log.so", "FileOperation"})
        fs::copy_file(factoryDir / file, factory / file, fs::copy_options::overwrite_existing);
    std::string record = R"({"modules": [{"moduleName": "LiveModuleFactory", "name": "LiveModuleFactory", "version": 0})";
    for (int i = 0; i < count; ++i) {
        const std::string name = ModuleName(i);
        fs::create_directories(modules / name / "64bit");
        fs::copy_file(BENCH_MODULE, modules / name / "64bit" / (name + "_" + kTag + ".so"),
                      fs::copy_options::overwrite_existing);
        record += R"(, {"disabled": false, "moduleName": "Module )" + name + R"(", "name": ")" + name +
                  R"(", "version": 1})";
    }
    WriteText(modules / "ModuleInfo", record + "]}");
}

// Child: the factory's start-up, as the host's plug-in calls it.
int MeasureFactory(const fs::path& root, int count, const fs::path& result) {
    void* library = dlopen((root / "modules/LiveModuleFactory/64bit/LiveModuleFactory.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    auto load = library ? reinterpret_cast<LoadLiveModuleFactoryFunc>(dlsym(library, "LoadLiveModuleFactory")) : nullptr;
    auto unload = library ? reinterpret_cast<UnloadLiveModuleFactoryFunc>(dlsym(library, "UnloadLiveModuleFactory")) : nullptr;
    if (!load || !unload) return 3;
    int error = 0;
    const long long cpuStart = ProcessCpuMicros();
    const auto start = Clock::now();
    LiveModule::ILiveModuleFactory* factory = load(0, nullptr, &error);
    const auto elapsed = Clock::now() - start;
    const long long cpu = ProcessCpuMicros() - cpuStart;
    if (!factory) return 4;
    static int running = 0;
    factory->EnumModules([](LiveModule::ILiveModule*) { ++running; });
    LiveModule::host::FireFrontendEvent(LiveModule::platform::kFrontendEventExit);
    unload(factory);
    if (running != count) return 5;
    WriteResult(result, elapsed, cpu);
    return 0;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Child: the least any start-up must do.
int MeasureFloor(const fs::path& root, int count, const std::string& catalogueUrl, const fs::path& result) {
    const std::string modules = (root / "modules/").string();
    const long long cpuStart = ProcessCpuMicros();
    const auto start = Clock::now();
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, catalogueUrl.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Discard);
    // The factory's request accepts every encoding curl knows, as the floor's must: the server's
    // compression (brotli at its default quality is slow) belongs to any start-up.
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    const CURLcode got = curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    int loaded = 0;
    for (int i = 0; i < count; ++i) {
        const std::string name = ModuleName(i);
        void* library = dlopen((modules + name + "/64bit/" + name + "_" + kTag + ".so").c_str(), RTLD_NOW | RTLD_LOCAL);
        auto load = library ? reinterpret_cast<LiveModuleLoadFunc>(dlsym(library, "LiveModuleLoad")) : nullptr;
        auto unload = library ? reinterpret_cast<LiveModuleUnloadFunc>(dlsym(library, "LiveModuleUnload")) : nullptr;
        if (load && unload && load(nullptr)) ++loaded;
    }
    const auto elapsed = Clock::now() - start;
    const long long cpu = ProcessCpuMicros() - cpuStart;
    if (got != CURLE_OK || loaded != count) return 6;
    WriteResult(result, elapsed, cpu);
    return 0;
}

struct Sample {
    double ms = 0;     // wall clock
    double cpuMs = 0;  // every thread's processor time
    long peakKiB = 0;
};

// Runs this program as a child in the given mode; its time and peak resident memory.
bool RunChild(const std::string& self, const std::string& mode, const fs::path& root, int count, const fs::path& result,
              Sample& sample) {
    fs::remove(result);
    const std::string n = std::to_string(count);
    std::vector<std::string> args = {self, "--child", mode, root.string(), n, result.string()};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench-startup: %s run over %d modules failed (status %d)\n", mode.c_str(), count, status);
        return false;
    }
    std::istringstream answer(Text(result));
    long long wallMicros = 0, cpuMicros = 0;
    answer >> wallMicros >> cpuMicros;
    sample.ms = wallMicros / 1000.0;
    sample.cpuMs = cpuMicros / 1000.0;
    sample.peakKiB = usage.ru_maxrss;
    return true;
}

double Min(std::vector<double> values) {
    return *std::min_element(values.begin(), values.end());
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

int Usage() {
    std::fprintf(stderr, "usage: bench-startup [--sizes 10,100,1000] [--runs 7] [--keep] [--factory DIR]\n"
                         "  Build it in Release. Serves the catalogue on 127.0.0.1:%d. --keep leaves the trees\n"
                         "  (and the factory's log in each) for inspection. --factory takes LiveModuleFactory.so,\n"
                         "  Log.so and FileOperation from DIR instead of this build's, to compare builds.\n",
                 BENCH_PORT);
    return 64;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string catalogueUrl = "http://127.0.0.1:" + std::to_string(BENCH_PORT) +
                                     "/orbit/pcPlugin/getPlugins?did=bench&aid=LM_OBS_Studio_Ext";
    if (argc == 6 && std::string(argv[1]) == "--child") {
        const std::string mode = argv[2];
        const int count = std::atoi(argv[4]);
        return mode == "factory" ? MeasureFactory(argv[3], count, argv[5])
                                 : MeasureFloor(argv[3], count, catalogueUrl, argv[5]);
    }
    std::vector<int> sizes = {10, 100, 1000};
    int runs = 7;
    bool keep = false;
    fs::path factoryDir = BENCH_FACTORY_DIR;
    for (int i = 1; i < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--keep") {
            keep = true;
            --i;
            continue;
        }
        if (i + 1 >= argc) return Usage();
        const std::string value = argv[i + 1];
        if (flag == "--factory") {
            factoryDir = value;
        } else if (flag == "--runs") {
            runs = std::max(1, std::atoi(value.c_str()));
        } else if (flag == "--sizes") {
            sizes.clear();
            std::stringstream list(value);
            for (std::string item; std::getline(list, item, ',');) sizes.push_back(std::max(1, std::atoi(item.c_str())));
        } else {
            return Usage();
        }
    }
    if (BENCH_PORT == 0 || sizes.empty()) return Usage();

    char base[] = "/tmp/bench-startup-XXXXXX";
    if (!mkdtemp(base)) return 1;
    const fs::path work = base;
    // The factory's per-installation temporary folder goes below here, not into the user's home.
    setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
    LiveModule::tools::CatalogueServer server(BENCH_PORT, (work / "packages").string());
    if (!server.Start()) {
        std::fprintf(stderr, "bench-startup: port %d is in use\n", BENCH_PORT);
        return 1;
    }
    for (int n : sizes) BuildTree(work / ("tree" + std::to_string(n)), n, factoryDir);

    const std::string self = fs::canonical("/proc/self/exe").string();
    std::map<int, std::vector<Sample>> factory, floor;
    bool ok = true;
    for (int run = 0; run < runs && ok; ++run) {
        for (int n : sizes) {
            server.SetManifestText(Manifest(n));
            const fs::path root = work / ("tree" + std::to_string(n)), result = work / "result";
            Sample a, b;
            // Alternate which kind goes first, so neither always meets a warmer machine.
            const bool factoryFirst = run % 2 == 0;
            ok = RunChild(self, factoryFirst ? "factory" : "floor", root, n, result, factoryFirst ? a : b) &&
                 RunChild(self, factoryFirst ? "floor" : "factory", root, n, result, factoryFirst ? b : a);
            if (!ok) break;
            factory[n].push_back(a), floor[n].push_back(b);
        }
    }
    server.Stop();
    if (keep) {
        std::printf("bench-startup: the trees stay in %s\n", work.c_str());
    } else {
        fs::remove_all(work);
    }
    if (!ok) return 1;

    auto times = [](const std::vector<Sample>& samples, bool cpu) {
        std::vector<double> ms;
        for (const Sample& s : samples) ms.push_back(cpu ? s.cpuMs : s.ms);
        return ms;
    };
    auto peak = [](const std::vector<Sample>& samples) {
        long most = 0;
        for (const Sample& s : samples) most = std::max(most, s.peakKiB);
        return most / 1024.0;
    };
    std::printf("LoadLiveModuleFactory against the floor (catalogue GET + dlopen/dlsym/LiveModuleLoad of each module),\n"
                "%d interleaved runs each; wall clock, then the processor time of all the process's threads\n", runs);
    for (const bool cpu : {false, true}) {
        std::printf("%-5s %6s  %21s  %21s  %15s  %19s\n", cpu ? "cpu" : "wall", "N", "factory min/med ms",
                    "floor min/med ms", "ratio min/med", "peak RSS MiB f/fl");
        for (int n : sizes) {
            const auto f = times(factory[n], cpu), l = times(floor[n], cpu);
            std::printf("%-5s %6d  %10.1f %10.1f  %10.1f %10.1f  %7.2f %7.2f  %9.1f %9.1f\n", cpu ? "cpu" : "wall", n,
                        Min(f), Median(f), Min(l), Median(l), Min(f) / Min(l), Median(f) / Median(l), peak(factory[n]),
                        peak(floor[n]));
        }
        for (size_t i = 1; i < sizes.size(); ++i) {
            for (const bool ofFactory : {true, false}) {
                auto& kind = ofFactory ? factory : floor;
                const auto small = times(kind[sizes[i - 1]], cpu), large = times(kind[sizes[i]], cpu);
                std::printf("%-5s %-7s growth %d -> %d modules: %.2fx (min), %.2fx (median)\n", cpu ? "cpu" : "wall",
                            ofFactory ? "factory" : "floor", sizes[i - 1], sizes[i], Min(large) / Min(small),
                            Median(large) / Median(small));
            }
        }
    }
    return 0;
}
