#include "updater/PackageCheck.h"

#include <cctype>
#include <cmath>
#include <limits>

namespace LiveModule {

namespace {

bool IsHexDigest(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

}  // namespace

void ReadPackageCheck(const nlohmann::json& object, PackageCheck& check) {
    if (!object.is_object()) return;
    // A check that was meant but cannot be read must not be skipped: it fails every package.
    if (const auto sha = object.find("sha256"); sha != object.end()) {
        if (sha->is_string() && IsHexDigest(sha->get<std::string>())) {
            check.sha256 = sha->get<std::string>();
            for (char& c : check.sha256) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else {
            check.malformed = true;
        }
    }
    if (const auto size = object.find("size"); size != object.end()) {
        // The catalogue's reader makes integers of ten or more characters doubles: a whole one
        // within 2^53 is still an exact byte count.
        const bool whole = size->is_number_float() && std::trunc(size->get<double>()) == size->get<double>() &&
                           size->get<double>() >= 0 && size->get<double>() <= 9007199254740992.0;
        const bool fits = whole || (size->is_number_unsigned()
                                        ? size->get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                                        : size->is_number_integer() && size->get<int64_t>() >= 0);
        if (fits) {
            check.size = whole ? static_cast<int64_t>(size->get<double>()) : size->get<int64_t>();
        } else {
            check.malformed = true;
        }
    }
    if (const auto sig = object.find("sig"); sig != object.end()) {
        if (sig->is_string() && !sig->get<std::string>().empty()) {
            check.signature = sig->get<std::string>();
        } else {
            check.malformed = true;
        }
    }
}

}  // namespace LiveModule
