#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

// Reads JSON text the way json11 does, into nlohmann values. The catalogue service and older
// installations wrote their texts for json11, and the ModuleInfo writer produces what json11 reads,
// so anything it accepts must be accepted here too:
// - bytes of strings are kept as they are, whether or not they are UTF-8 (only bytes below 0x20
//   must be escaped);
// - a \u escape of a lone surrogate becomes its three-byte form; a high surrogate escape followed
//   by a low one becomes the character they encode;
// - integers of up to 9 characters (sign included) without fraction or exponent are integers,
//   other numbers doubles, and one beyond the double range is an infinity;
// - a key that appears twice keeps its last value.
// Nesting deeper than 200 levels, and anything but white space after the value, is rejected. Beyond
// json11, a UTF-8 byte order mark before the value is passed over.
namespace LiveModule {

std::optional<nlohmann::json> ReadJson(const std::string& text);

}  // namespace LiveModule
