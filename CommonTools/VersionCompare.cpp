#include "VersionCompare.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace LiveModule {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// std::stoi's reading, but with the messages callers know (libstdc++ words its own differently).
int32_t ToInt32(const std::string& text) {
    const char* p = text.c_str();
    while (IsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (!IsDigit(*p)) throw std::invalid_argument("invalid stoi argument");
    // Magnitudes are kept below 2^32, well inside int64, and checked once all digits are read.
    constexpr int64_t kCap = int64_t{1} << 32;
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        magnitude = std::min(magnitude * 10 + (*p - '0'), kCap);
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
        throw std::out_of_range("stoi argument out of range");
    }
    return static_cast<int32_t>(value);
}

}  // namespace

std::vector<std::string> SplitString(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto found = text.find(delimiter, start);
        if (found == std::string::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, found - start));
        start = found + 1;
    }
}

int32_t CompareVersion(const std::string& first, const std::string& second) {
    std::vector<std::string> left = SplitString(first, '.');
    std::vector<std::string> right = SplitString(second, '.');
    while (left.size() < right.size()) left.push_back("0");
    while (right.size() < left.size()) right.push_back("0");
    for (std::size_t i = 0; i < left.size(); ++i) {
        // Two statements so the first side is read, and raises, first.
        const int64_t a = ToInt32(left[i]);
        const int64_t b = ToInt32(right[i]);
        // The 64-bit difference can leave int32; only its sign matters to callers.
        const int64_t difference = a - b;
        if (difference != 0) {
            return static_cast<int32_t>(std::clamp<int64_t>(difference, std::numeric_limits<int32_t>::min(),
                                                            std::numeric_limits<int32_t>::max()));
        }
    }
    return 0;
}

}  // namespace LiveModule
