#include "PackageSigning.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

namespace LiveModule::pack {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct KeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct FileClose {
    void operator()(FILE* file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

// A new file only this user can read; never one that exists already.
std::unique_ptr<FILE, FileClose> CreatePrivateFile(const std::string& path, int mode) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, "w");
    if (!file) close(fd);
    return std::unique_ptr<FILE, FileClose>(file);
}

std::string Base64(const unsigned char* data, size_t size) {
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data, static_cast<int>(size));
    text.resize(written < 0 ? 0 : static_cast<size_t>(written));
    return text;
}

}  // namespace

bool MakeKeyPair(const std::string& prefix, std::string& error) {
    const std::unique_ptr<EVP_PKEY_CTX, KeyContextFree> context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* raw = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &raw) != 1) {
        error = "cannot make an Ed25519 key";
        return false;
    }
    const Key key(raw);
    const std::string privatePath = prefix + ".key", publicPath = prefix + ".pub";
    auto privateFile = CreatePrivateFile(privatePath, 0600);
    if (!privateFile) {
        error = "cannot create " + privatePath + " (it must not exist yet)";
        return false;
    }
    auto publicFile = CreatePrivateFile(publicPath, 0644);
    if (!publicFile) {
        error = "cannot create " + publicPath + " (it must not exist yet)";
        privateFile.reset();
        unlink(privatePath.c_str());
        return false;
    }
    const bool written = PEM_write_PrivateKey(privateFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
                         PEM_write_PUBKEY(publicFile.get(), key.get()) == 1;
    const bool closed = std::fclose(privateFile.release()) == 0 && std::fclose(publicFile.release()) == 0;
    if (!written || !closed) {
        error = "cannot write the key files";
        unlink(privatePath.c_str());
        unlink(publicPath.c_str());
        return false;
    }
    return true;
}

bool DescribePackage(const std::string& zipPath, const std::string& keyFile, PackageFacts& facts, std::string& error) {
    std::ifstream in(zipPath, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    if (!in) {
        error = "cannot read " + zipPath;
        return false;
    }
    const std::string bytes = content.str();
    facts.size = static_cast<long long>(bytes.size());
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) {
        error = "cannot hash " + zipPath;
        return false;
    }
    static const char kHex[] = "0123456789abcdef";
    facts.sha256.clear();
    for (unsigned int i = 0; i < length; ++i) facts.sha256 += {kHex[digest[i] >> 4], kHex[digest[i] & 15]};
    facts.signature.clear();
    if (keyFile.empty()) return true;

    const std::unique_ptr<FILE, FileClose> file(std::fopen(keyFile.c_str(), "r"));
    const Key key(file ? PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        error = "cannot read an Ed25519 private key from " + keyFile;
        return false;
    }
    const std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    unsigned char signature[64];
    size_t signatureSize = sizeof signature;
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature, &signatureSize, reinterpret_cast<const unsigned char*>(bytes.data()),
                       bytes.size()) != 1) {
        error = "cannot sign " + zipPath;
        return false;
    }
    facts.signature = Base64(signature, signatureSize);
    return true;
}

}  // namespace LiveModule::pack
