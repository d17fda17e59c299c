#include "StartFailureReport.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace LiveModule::host {

namespace fs = std::filesystem;

namespace {

// The most recently written log file in the folder, or an empty path.
fs::path NewestLog(const fs::path& logs) {
    fs::path newest;
    fs::file_time_type newestTime;
    std::error_code error;
    for (fs::directory_iterator it(logs, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        if (it->path().extension() != ".log" || !it->is_regular_file(entryError)) continue;
        const fs::file_time_type time = it->last_write_time(entryError);
        if (entryError || (!newest.empty() && time <= newestTime)) continue;
        newest = it->path();
        newestTime = time;
    }
    return newest;
}

std::string LastErrorLine(const fs::path& log) {
    std::ifstream in(log);
    std::string line, last;
    while (std::getline(in, line)) {
        if (line.find(" [error] ") != std::string::npos) last = line;
    }
    return last;
}

}  // namespace

std::string StartFailureReport(const std::string& factoryPath, int error) {
    std::string report = "LoadLiveModuleFactory failed: error " + std::to_string(error) + "\n";
    std::error_code ignored;
    fs::path factory = fs::weakly_canonical(fs::absolute(factoryPath, ignored), ignored);
    // ROOT/modules/LiveModuleFactory/64bit/LiveModuleFactory.so
    const fs::path logs = factory.parent_path().parent_path().parent_path().parent_path() / "logs";
    const fs::path log = NewestLog(logs);
    if (log.empty()) return report + "lm-host: the factory wrote no log in " + logs.string() + "/\n";
    report += "lm-host: factory log: " + log.string() + "\n";
    const std::string line = LastErrorLine(log);
    return report + "lm-host: last error line: " + (line.empty() ? "(none)" : line) + "\n";
}

}  // namespace LiveModule::host
