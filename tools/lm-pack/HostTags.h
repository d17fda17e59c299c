#pragma once

#include <string>
#include <vector>

namespace LiveModule::pack {

// The tags lm-pack looks for unless told: the host's group 6_3_1_0, 6_4_1_0 and the tag of the
// OBS Studio on the build machine, when it has one.
std::vector<std::string> DefaultTags();

// Which hosts load a package holding libraries for `found` (tags), in plain words: a host takes its
// own tag, and a host of the 6_3_1_0/6_4_1_0 group also its partner's. `missing` gets a sentence
// when the OBS Studio on the build machine is not among them.
std::string HostsThatLoad(const std::vector<std::string>& found, std::string& missing);

}  // namespace LiveModule::pack
