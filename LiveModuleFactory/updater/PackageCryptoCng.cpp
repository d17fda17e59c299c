#include "updater/PackageCrypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
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

// CNG has no Ed25519, so the Windows build refuses to configure with a package public key; a
// signature can therefore never be asked for here.
bool Ed25519SignatureValid(const std::string&, const std::string&, const std::string&) { return false; }

}  // namespace LiveModule
