#pragma once

#include <string>

#include "updater/PackageCheck.h"

// Whether a downloaded package is the one its catalogue entry describes.
namespace LiveModule {

// True when the file at `path` has the entry's size and SHA-256 (each when given) and, when
// `publicKey` (base64 DER of an Ed25519 SubjectPublicKeyInfo) is not empty, carries a valid
// signature of its bytes by that key. A malformed check, a missing signature where one is
// required, an unreadable file or an unusable key all fail.
bool VerifyPackage(const std::string& path, const PackageCheck& check, const std::string& publicKey);

// Base64 (standard alphabet, padding optional, no line breaks) to bytes; false on any other text.
bool DecodeBase64(const std::string& text, std::string& bytes);

}  // namespace LiveModule
