#include "UpdaterTestKit.h"
#include "updater/Catalogue.h"
#include "updater/PackageVerifier.h"

// A downloaded package against what its catalogue entry says about it, and the deployment's key.
using namespace LiveModule;
using Peer = LiveModuleUpdaterTestPeer;
using lmtest::Exists;
using lmtest::ReadFile;
using lmtest::Base64;
using lmtest::Record;
using lmtest::Sign;
using lmtest::UpdaterTree;

namespace {

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
    const std::string sha = lmtest::Sha256Hex(bytes), sig = Sign(bytes, "signing");
    const std::string key = lmtest::PemBody(ReadFile(LMTEST_KEYS_DIR "/signing.pub"));
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
             {"another digest", bytes, Check(lmtest::Sha256Hex(altered), -1), "", false},
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
    const std::string bytes = "PK\x03\x04 release 2", sha = lmtest::Sha256Hex(bytes);
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
