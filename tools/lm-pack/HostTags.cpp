#include "HostTags.h"

#include <algorithm>

namespace LiveModule::pack {

namespace {

const std::vector<std::string> kGroup{"6_3_1_0", "6_4_1_0"};

// "5_15_8_0" -> "5.15.8"
std::string QtVersion(std::string tag) {
    std::replace(tag.begin(), tag.end(), '_', '.');
    if (tag.size() > 2 && tag.compare(tag.size() - 2, 2, ".0") == 0) tag.resize(tag.size() - 2);
    return tag;
}

bool Has(const std::vector<std::string>& tags, const std::string& tag) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

}  // namespace

std::vector<std::string> DefaultTags() {
    std::vector<std::string> tags = kGroup;
    const std::string host = LMPACK_HOST_QT_TAG;
    if (!host.empty() && !Has(tags, host)) tags.push_back(host);
    return tags;
}

std::string HostsThatLoad(const std::vector<std::string>& found, std::string& missing) {
    std::vector<std::string> hosts = found;
    // Either member of the group serves both.
    if (std::any_of(kGroup.begin(), kGroup.end(), [&](const std::string& tag) { return Has(found, tag); })) {
        for (const std::string& tag : kGroup) {
            if (!Has(hosts, tag)) hosts.push_back(tag);
        }
    }
    const std::string obs = LMPACK_HOST_QT_TAG;
    std::string text;
    for (const std::string& tag : hosts) {
        text += (text.empty() ? "" : ", ") + QtVersion(tag);
        if (tag == obs) text += " (the OBS Studio on this machine)";
    }
    missing.clear();
    if (!obs.empty() && !Has(hosts, obs)) {
        missing = "it will not load in the OBS Studio on this machine (Qt " + QtVersion(obs) + "): it has no 64bit/<id>_" +
                  obs + ".so";
    }
    return hosts.empty() ? "no host: it has no library for any Qt version" : "hosts on Qt " + text + "; no others";
}

}  // namespace LiveModule::pack
