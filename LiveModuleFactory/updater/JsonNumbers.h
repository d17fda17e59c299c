#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

namespace LiveModule {

// A number as int32, truncated toward zero. Values beyond the int32 range saturate at its bounds,
// and NaN gives 0, so no input can reach an undefined conversion.
int32_t TruncateToInt32(double value);

// A JSON number (integer, unsigned or floating) as int32 by the same rule; 0 for anything else.
int32_t JsonNumberToInt32(const nlohmann::json& number);

}  // namespace LiveModule
