#pragma once

#include <string>

// The cryptography the package check needs: OpenSSL's libcrypto on Linux; on Windows CNG for
// SHA-256 and libsodium (built from Debian's source) for Ed25519.
namespace LiveModule {

// Lower-case hex SHA-256 of `bytes`; empty when the provider fails.
std::string Sha256Hex(const std::string& bytes);

// Whether `signature` is a valid Ed25519 signature of `bytes` by the key in `publicKeyDer` (a DER
// SubjectPublicKeyInfo). False for any other key type.
bool Ed25519SignatureValid(const std::string& bytes, const std::string& signature, const std::string& publicKeyDer);

}  // namespace LiveModule
