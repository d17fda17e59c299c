#include "TestArchives.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <filesystem>
#include <stdexcept>

namespace lmtest {

ZipEntry UnixEntry(const std::string& name, const std::string& data, unsigned mode) {
    ZipEntry entry(name, data, static_cast<unsigned long>(mode) << 16);
    entry.versionMadeBy = 3u << 8 | 20;
    return entry;
}

namespace {

// A raw deflate stream (no zlib header), as zip entries hold it.
std::string Deflate(const std::string& data) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

void WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr) << path;
    for (const ZipEntry& e : entries) {
        zip_fileinfo info{};
        info.tmz_date = {56, 34, 12, 15, 5, 2021};
        info.external_fa = e.externalAttributes;
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size()));
        // Damaged entries are written raw: their data and headers as given, unchecked.
        const bool raw = e.damage != Damage::None;
        const int method = e.damage == Damage::BadCrc ? 0 : Z_DEFLATED;
        ASSERT_EQ(zipOpenNewFileInZip4(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                       Z_DEFAULT_COMPRESSION, raw, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
                                       nullptr, crc, e.versionMadeBy, 0),
                  ZIP_OK) << e.name;
        std::string stored = e.data;
        uLong declaredSize = e.data.size(), declaredCrc = crc;
        switch (e.damage) {
        case Damage::None: break;
        case Damage::BadCrc: declaredCrc ^= 1; break;
        case Damage::EndsEarly: stored = Deflate(e.data.substr(0, e.data.size() / 2)); break;
        case Damage::SizeTooLarge: stored = Deflate(e.data), declaredSize += 100; break;
        case Damage::SizeTooSmall: stored = Deflate(e.data), declaredSize -= 1; break;
        }
        ASSERT_EQ(zipWriteInFileInZip(zip, stored.data(), static_cast<unsigned>(stored.size())), ZIP_OK);
        ASSERT_EQ(raw ? zipCloseFileInZipRaw(zip, declaredSize, declaredCrc) : zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
}

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.insert(std::filesystem::relative(entry.path(), root).string() +
                     (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    return paths;
}

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
