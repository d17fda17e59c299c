#pragma once

#include <string>
#include <vector>

namespace LiveModule::pack {

// What the checks found. Any problem means the package is refused; notes are worth knowing but
// leave a package the host can run.
struct Findings {
    std::vector<std::string> problems;
    std::vector<std::string> notes;
    std::vector<std::string> passed;  // one line per library that passed every check

    void Problem(std::string text) { problems.push_back(std::move(text)); }
    void Note(std::string text) { notes.push_back(std::move(text)); }
};

}  // namespace LiveModule::pack
