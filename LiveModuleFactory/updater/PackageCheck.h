#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// What a catalogue entry says about its package's bytes, from its "ext" object: "sha256" (64 hex
// digits), "size" (bytes) and "sig" (base64 Ed25519 signature of the whole package).
namespace LiveModule {

struct PackageCheck {
    std::string sha256;     // lower-case hex; empty when not given
    int64_t size = -1;      // -1 when not given
    std::string signature;  // base64 text as given; empty when not given
    bool malformed = false; // a key was present with a value of the wrong form: no package passes
};

// Reads the three keys from the parsed "ext" object; anything but an object leaves `check` as it is.
void ReadPackageCheck(const nlohmann::json& ext, PackageCheck& check);

}  // namespace LiveModule
