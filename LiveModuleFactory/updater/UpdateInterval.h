#pragma once

#include <cstdint>
#include <string>

// The period of the update timer, from global.ini in the installation root.
namespace LiveModule {

// The installation root's global.ini: `modulesDir` without its final "/" and its last level.
std::string GlobalIniPath(const std::string& modulesDir);

// [General] UpdateIntervalInMin in milliseconds. A missing file or key, or a value of 0 or less,
// gives 30 minutes. Values above 71582 minutes count as 71582, the most whose milliseconds fit
// 32 bits, so the period never wraps round to a short one.
uint32_t ReadUpdateIntervalMs(const std::string& iniPath);

}  // namespace LiveModule
