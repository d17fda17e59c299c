// What a catalogue entry vouches with, made with OpenSSL.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <stdexcept>

#include "../TestArchives.h"

namespace lmtest {

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned char byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    return hex;
}

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size())));
    return text;
}

std::string Sign(const std::string& bytes, const std::string& key) {
    FILE* file = std::fopen((LMTEST_KEYS_DIR "/" + key + ".key").c_str(), "r");
    EVP_PKEY* pkey = file ? PEM_read_PrivateKey(file, nullptr, nullptr, nullptr) : nullptr;
    if (file) std::fclose(file);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char signature[64];
    size_t size = sizeof signature;
    const bool ok = pkey && EVP_DigestSignInit(context, nullptr, nullptr, nullptr, pkey) == 1 &&
                    EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char*>(bytes.data()),
                                   bytes.size()) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(pkey);
    if (!ok) throw std::runtime_error("cannot sign with " + key);
    return Base64(std::string(reinterpret_cast<char*>(signature), size));
}

}  // namespace lmtest
