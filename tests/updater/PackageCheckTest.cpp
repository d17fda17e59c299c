#include <openssl/evp.h>
#include <openssl/pem.h>

#include "UpdaterTestKit.h"
#include "updater/Catalogue.h"
#include "updater/PackageVerifier.h"

// A downloaded package against what its catalogue entry says about it, and the deployment's key.
using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
using lmtest::ReadFile;
using lmtest::Record;
using lmtest::UpdaterTree;

namespace {

std::string Base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    text.resize(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size())));
    return text;
}

// The signature of `bytes` by the private key in tests/keys/<key>.key, base64.
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
    EXPECT_TRUE(ok) << key;
    return ok ? Base64(std::string(reinterpret_cast<char*>(signature), size)) : "";
}

std::string Sha256(const std::string& bytes) {
    unsigned char digest[32];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr);
    std::string hex;
    for (unsigned char byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    return hex;
}

// The base64 body of tests/keys/signing.pub, as the build option embeds it.
std::string DeployKey() {
    std::string body, line;
    std::istringstream pem(ReadFile(LMTEST_KEYS_DIR "/signing.pub"));
    while (std::getline(pem, line)) if (line.rfind("-----", 0) != 0) body += line;
    return body;
}

PackageCheck Check(const std::string& sha256, int64_t size, const std::string& signature = "") {
    PackageCheck check;
    check.sha256 = sha256, check.size = size, check.signature = signature;
    return check;
}

}  // namespace

TEST(PackageCheck, TheEntrysExtCarriesDigestSizeAndSignatureAndAMalformedOneFailsEverything) {
    const std::string sha(64, 'A');
    struct Case {
        std::string ext;
        std::string sha256;
        int64_t size;
        std::string signature;
        bool malformed;
    };
    for (const Case& c : std::vector<Case>{
             {"{}", "", -1, "", false},
             {"not json", "", -1, "", false},
             {R"({"sha256": ")" + sha + R"(", "size": 12, "sig": "c2ln", "update_tips": "t"})", std::string(64, 'a'), 12, "c2ln", false},
             {R"({"size": 0})", "", 0, "", false},
             {R"({"sha256": ")" + sha.substr(1) + R"("})", "", -1, "", true},
             {R"({"sha256": ")" + sha.substr(1) + R"(g"})", "", -1, "", true},
             {R"({"sha256": 5})", "", -1, "", true},
             {R"({"size": -1})", "", -1, "", true},
             {R"({"size": "12"})", "", -1, "", true},
             {R"({"size": 1.5})", "", -1, "", true},
             {R"({"size": 18446744073709551615})", "", -1, "", true},
             {R"({"sig": ""})", "", -1, "", true},
             {R"({"sig": 7})", "", -1, "", true}}) {
        const std::string catalogue = R"({"error": 0, "data": [{"name": "M", "orgname": "m.zip", "ext": )" +
                                      nlohmann::json(c.ext).dump() + "}]}";
        std::list<ModuleRecord> records;
        ASSERT_TRUE(ParseCatalogue(catalogue, records)) << c.ext;
        ASSERT_EQ(records.size(), 1u);
        const PackageCheck& check = records.front().package;
        EXPECT_EQ(check.sha256 + "|" + std::to_string(check.size) + "|" + check.signature + "|" + (check.malformed ? "!" : ""),
                  c.sha256 + "|" + std::to_string(c.size) + "|" + c.signature + "|" + (c.malformed ? "!" : ""))
            << c.ext;
    }
}

TEST(PackageCheck, OnlyTheBytesTheEntryDescribesAndTheKeySignedPass) {
    lmtest::TempDir temp;
    const std::string path = temp.path() + "/p.zip", bytes = "PK\x03\x04 package bytes";
    std::string altered = bytes;
    altered[7] ^= 1;
    const std::string sha = Sha256(bytes), sig = Sign(bytes, "signing"), key = DeployKey();
    const int64_t size = static_cast<int64_t>(bytes.size());
    PackageCheck malformed;
    malformed.malformed = true;
    struct Case {
        const char* what;
        std::string file;
        PackageCheck check;
        std::string key;
        bool passes;
    };
    for (const Case& c : std::vector<Case>{
             {"nothing to check", bytes, Check("", -1), "", true},
             {"digest and size", bytes, Check(sha, size), "", true},
             {"digest only, any size", bytes, Check(sha, -1), "", true},
             {"one byte altered", altered, Check(sha, size), "", false},
             {"one byte missing", bytes.substr(1), Check("", size), "", false},
             {"another digest", bytes, Check(Sha256(altered), -1), "", false},
             {"a malformed check", bytes, malformed, "", false},
             {"signed by the key", bytes, Check("", -1, sig), key, true},
             {"signed by the key, padding left off", bytes, Check(sha, size, sig.substr(0, sig.find('='))), key, true},
             {"signed by the key, one byte altered", altered, Check("", -1, sig), key, false},
             {"unsigned", bytes, Check(sha, size), key, false},
             {"signed by another key", bytes, Check(sha, size, Sign(bytes, "other")), key, false},
             {"a signature that is no base64", bytes, Check(sha, size, "!!" + sig.substr(2)), key, false},
             {"a signature cut short", bytes, Check(sha, size, sig.substr(0, 40)), key, false},
             {"a key that is no key", bytes, Check(sha, size, sig), Base64("not a key"), false},
             {"a signature without a key to check it", bytes, Check(sha, size, Sign(bytes, "other")), "", true}}) {
        lmtest::WriteFile(path, c.file);
        EXPECT_EQ(VerifyPackage(path, c.check, c.key), c.passes) << c.what;
    }
    EXPECT_TRUE(VerifyPackage(path + ".none", Check("", -1), "")) << "nothing to check needs no file";
    EXPECT_FALSE(VerifyPackage(path + ".none", Check("", 0), "")) << "a missing file has no size";
}

TEST_F(UpdaterTree, ARefusedDownloadIsDeletedAndAnAcceptedOneWaitsAsItsZip) {
    const std::string bytes = "PK\x03\x04 release 2", sha = Sha256(bytes);
    std::string altered = bytes;
    altered.back() ^= 1;
    struct Case {
        const char* what;
        std::string downloaded;
        bool accepted;
    };
    for (const Case& c : std::vector<Case>{{"the described bytes", bytes, true}, {"one byte altered", altered, false}}) {
        lmtest::WriteFile(staging + "m.zip", "release 1, waiting");
        ModuleRecord record = Record("m", 2);
        record.package = Check(sha, static_cast<int64_t>(bytes.size()));
        const std::string download = Peer::DownloadPath(updater, "m");
        EXPECT_NE(download.substr(download.size() - 4), ".zip") << "an unchecked download is never a waiting package";
        lmtest::WriteFile(download, c.downloaded);
        EXPECT_EQ(Peer::Accept(updater, record), c.accepted) << c.what;
        EXPECT_FALSE(Exists(download)) << c.what;
        EXPECT_EQ(ReadFile(staging + "m.zip"), c.accepted ? bytes : "release 1, waiting") << c.what;
    }
    EXPECT_EQ(log.Count("error", "[LiveModuleUpdater] Module package verify failed {module: m}"), 1);
}
