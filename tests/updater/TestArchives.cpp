#include "TestArchives.h"

#include <gtest/gtest.h>
#include <zip.h>
#include <zlib.h>

#include <filesystem>

#ifdef _WIN32
#include "platform/TextCodec.h"
#endif

namespace lmtest {

std::string Incompressible(size_t size) {
    std::string bytes(size, '\0');
    uint32_t state = 2463534242u;
    for (char& byte : bytes) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        byte = static_cast<char>(state);
    }
    return bytes;
}

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

std::filesystem::path PathOf(const std::string& path) {
#ifdef _WIN32
    using namespace LiveModule::platform;
    return DecodeText(Codeset::Ansi, path, OnBadInput::Fail).value();
#else
    return path;
#endif
}

std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> paths;
    const std::filesystem::path top = PathOf(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(top))
        paths.insert(std::filesystem::relative(entry.path(), top).generic_string() +
                     (entry.is_directory() && !entry.is_symlink() ? "/" : ""));
    return paths;
}

}  // namespace lmtest
