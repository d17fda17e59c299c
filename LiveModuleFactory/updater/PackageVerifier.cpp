#include "updater/PackageVerifier.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "platform/FileContent.h"

namespace LiveModule {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) return std::string();
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

bool SignatureValid(const std::string& bytes, const std::string& signatureBase64, const std::string& publicKeyBase64) {
    std::string der, signature;
    if (!DecodeBase64(publicKeyBase64, der) || !DecodeBase64(signatureBase64, signature)) return false;
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(der.data());
    const std::unique_ptr<EVP_PKEY, KeyFree> key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) return false;
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    // Ed25519 signs the message itself, in one pass, with no separate digest.
    return context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
           EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                            reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) == 1;
}

}  // namespace

bool DecodeBase64(const std::string& text, std::string& bytes) {
    std::string padded = text;
    while (padded.size() % 4 != 0) padded += '=';
    int padding = 0;
    for (std::size_t i = padded.size(); i > 0 && padded[i - 1] == '='; --i) ++padding;
    if (padding > 2) return false;
    for (std::size_t i = 0; i < padded.size() - padding; ++i) {
        const char c = padded[i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!ok) return false;
    }
    bytes.assign(padded.size() / 4 * 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                        reinterpret_cast<const unsigned char*>(padded.data()),
                                        static_cast<int>(padded.size()));
    if (written < 0) return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    bytes.resize(static_cast<std::size_t>(written) - static_cast<std::size_t>(padding));
    return true;
}

bool VerifyPackage(const std::string& path, const PackageCheck& check, const std::string& publicKey) {
    if (check.malformed) return false;
    if (check.sha256.empty() && check.size < 0 && publicKey.empty()) return true;
    std::string bytes;
    if (!platform::ReadWholeFile(path, bytes)) return false;
    if (check.size >= 0 && static_cast<int64_t>(bytes.size()) != check.size) return false;
    if (!check.sha256.empty() && Sha256Hex(bytes) != check.sha256) return false;
    if (!publicKey.empty() && (check.signature.empty() || !SignatureValid(bytes, check.signature, publicKey))) {
        return false;
    }
    return true;
}

}  // namespace LiveModule
