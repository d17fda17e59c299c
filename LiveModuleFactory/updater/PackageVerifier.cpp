#include "updater/PackageVerifier.h"

#include "platform/FileContent.h"
#include "updater/PackageCrypto.h"

namespace LiveModule {

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool SignatureValid(const std::string& bytes, const std::string& signatureBase64, const std::string& publicKeyBase64) {
    std::string der, signature;
    if (!DecodeBase64(publicKeyBase64, der) || !DecodeBase64(signatureBase64, signature)) return false;
    return Ed25519SignatureValid(bytes, signature, der);
}

}  // namespace

bool DecodeBase64(const std::string& text, std::string& bytes) {
    std::string padded = text;
    while (padded.size() % 4 != 0) padded += '=';
    int padding = 0;
    for (std::size_t i = padded.size(); i > 0 && padded[i - 1] == '='; --i) ++padding;
    if (padding > 2) return false;
    const std::size_t length = padded.size() - static_cast<std::size_t>(padding);
    bytes.clear();
    unsigned bits = 0;
    int count = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int value = Base64Value(padded[i]);
        if (value < 0) return false;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xff);
        }
    }
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
