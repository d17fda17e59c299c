#pragma once

#include <string>

namespace LiveModule::host {

// What lm-host prints when LoadLiveModuleFactory fails: the error code, the factory's log file (in
// the installation root's logs/ folder, three levels above the factory's folder) and that log's last
// error line, so that the cause is on screen without looking for the file.
std::string StartFailureReport(const std::string& factoryPath, int error);

}  // namespace LiveModule::host
