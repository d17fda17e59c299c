#include "updater/JsonNumbers.h"

#include <cmath>
#include <limits>

namespace LiveModule {

namespace {
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
}  // namespace

int32_t TruncateToInt32(double value) {
    if (std::isnan(value)) return 0;
    const double whole = std::trunc(value);
    if (whole <= kMin) return kMin;
    if (whole >= kMax) return kMax;
    return static_cast<int32_t>(whole);
}

int32_t JsonNumberToInt32(const nlohmann::json& number) {
    if (number.is_number_unsigned()) {
        const auto value = number.get<nlohmann::json::number_unsigned_t>();
        return value >= static_cast<uint64_t>(kMax) ? kMax : static_cast<int32_t>(value);
    }
    if (number.is_number_integer()) {
        const auto value = number.get<nlohmann::json::number_integer_t>();
        return value <= kMin ? kMin : value >= kMax ? kMax : static_cast<int32_t>(value);
    }
    if (number.is_number_float()) return TruncateToInt32(number.get<nlohmann::json::number_float_t>());
    return 0;
}

}  // namespace LiveModule
