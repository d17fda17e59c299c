#include "updater/PackageCrypto.h"

#include <windows.h>
#include <bcrypt.h>
#include <sodium/core.h>
#include <sodium/crypto_sign_ed25519.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace LiveModule {

namespace {

// Owns a CNG algorithm provider.
class AlgorithmHandle {
public:
    explicit AlgorithmHandle(const wchar_t* algorithm) {
        if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0))) handle_ = nullptr;
    }
    ~AlgorithmHandle() {
        if (handle_) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    AlgorithmHandle(const AlgorithmHandle&) = delete;
    AlgorithmHandle& operator=(const AlgorithmHandle&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

// Owns a CNG hash object.
class HashHandle {
public:
    explicit HashHandle(BCRYPT_ALG_HANDLE algorithm) {
        if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &handle_, nullptr, 0, nullptr, 0, 0))) handle_ = nullptr;
    }
    ~HashHandle() {
        if (handle_) BCryptDestroyHash(handle_);
    }
    HashHandle(const HashHandle&) = delete;
    HashHandle& operator=(const HashHandle&) = delete;
    BCRYPT_HASH_HANDLE get() const { return handle_; }

private:
    BCRYPT_HASH_HANDLE handle_ = nullptr;
};

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    const AlgorithmHandle algorithm(BCRYPT_SHA256_ALGORITHM);
    if (!algorithm.get()) return std::string();
    const HashHandle hash(algorithm.get());
    if (!hash.get()) return std::string();
    // BCryptHashData takes at most a ULONG at a time.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) {
        const ULONG chunk = static_cast<ULONG>(std::min<std::size_t>(left, std::numeric_limits<ULONG>::max()));
        if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(), const_cast<PUCHAR>(data), chunk, 0))) return std::string();
        data += chunk;
        left -= chunk;
    }
    unsigned char digest[32];
    if (!BCRYPT_SUCCESS(BCryptFinishHash(hash.get(), digest, sizeof digest, 0))) return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    return hex;
}

// CNG has no Ed25519: libsodium checks it. The key is the one form an Ed25519 SubjectPublicKeyInfo
// takes in DER: this fixed header, then the 32 key bytes.
bool Ed25519SignatureValid(const std::string& bytes, const std::string& signature, const std::string& publicKeyDer) {
    static const unsigned char kHeader[] = {0x30, 0x2a, 0x30, 0x05, 0x06, 0x03, 0x2b, 0x65, 0x70, 0x03, 0x21, 0x00};
    if (publicKeyDer.size() != sizeof kHeader + crypto_sign_ed25519_PUBLICKEYBYTES ||
        std::memcmp(publicKeyDer.data(), kHeader, sizeof kHeader) != 0 || signature.size() != crypto_sign_ed25519_BYTES) {
        return false;
    }
    static const bool ready = sodium_init() >= 0;  // once, whichever thread comes first
    if (!ready) return false;
    return crypto_sign_ed25519_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                               reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                               reinterpret_cast<const unsigned char*>(publicKeyDer.data()) + sizeof kHeader) == 0;
}

}  // namespace LiveModule
