// What a catalogue entry vouches with, made with libsodium (the Windows build has no OpenSSL). The
// keys in tests/keys are PEM PKCS#8 Ed25519 keys: the seed is the last 32 bytes of the DER body.
#include <sodium.h>

#include <stdexcept>

#include "../TestArchives.h"
#include "TestSupport.h"

namespace lmtest {

namespace {

void StartSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

}  // namespace

std::string Sha256Hex(const std::string& bytes) {
    StartSodium();
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    std::string hex;
    for (unsigned char byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    return hex;
}

std::string Base64(const std::string& bytes) {
    StartSodium();
    std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.find('\0'));
    return text;
}

std::string Sign(const std::string& bytes, const std::string& key) {
    StartSodium();
    const std::string body = PemBody(ReadFile(LMTEST_KEYS_DIR "/" + key + ".key"));
    unsigned char der[128];
    size_t size = 0;
    if (body.empty() || sodium_base642bin(der, sizeof der, body.data(), body.size(), nullptr, &size, nullptr,
                                          sodium_base64_VARIANT_ORIGINAL) != 0 || size < crypto_sign_SEEDBYTES)
        throw std::runtime_error("cannot sign with " + key);
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES], secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(publicKey, secretKey, der + size - crypto_sign_SEEDBYTES);
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), secretKey);
    sodium_memzero(secretKey, sizeof secretKey);
    return Base64(std::string(reinterpret_cast<char*>(signature), sizeof signature));
}

}  // namespace lmtest
