#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Dotted version numbers, compared component by component as integers.
namespace LiveModule {

// Splits at every delimiter. Empty pieces count: "1..2" gives three pieces, "" gives one.
std::vector<std::string> SplitString(const std::string& text, char delimiter);

// Negative when `first` is the lower version, 0 when equal, positive when higher. The shorter
// version is padded with "0" components, so "1.2" equals "1.2.0.0". Each component is read like
// std::stoi reads it (leading white space, optional sign, digits up to the first non-digit).
// Throws std::invalid_argument("invalid stoi argument") for a component without leading digits and
// std::out_of_range("stoi argument out of range") for one outside int32, but only when that
// component is reached: components after the first differing pair are never read.
int32_t CompareVersion(const std::string& first, const std::string& second);

}  // namespace LiveModule
