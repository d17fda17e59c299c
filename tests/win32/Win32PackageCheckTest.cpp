// The package check under Windows: SHA-256 from CNG, Ed25519 from libsodium, checked against
// what OpenSSL made on Linux from the test keys in tests/keys.
#include <gtest/gtest.h>

#include "Win32TestSupport.h"
#include "updater/PackageVerifier.h"

using lmtest::win32::TempDir;
using lmtest::win32::WriteFile;

namespace {

// `openssl pkeyutl -sign -rawin` over "abc" with tests/keys/signing.key and other.key.
constexpr const char* kSignedBySigningKey =
    "HVqqD/1w3m5nGPmXC8kCDtv94Fqe5yO2PsZn9QTO/bSIM/qNc7aAZqeVLNBBTujVky4ntUR64VR9UrdNEBWMCA==";
constexpr const char* kSignedByOtherKey =
    "envppyQYh66utbReX6velV/vaoHwjAi3Sf5FweQj68DGI3K5VUgJmKMqnxdi8QJuo/0aFHcijHv8qabyI76+BA==";

}  // namespace

TEST(Win32PackageCheck, Sha256AndSizeDecideAndUnsignedIsFineWithoutAKey) {
    const TempDir temp;
    const std::string package = temp.path() + "m.zip";
    WriteFile(package, "abc");
    LiveModule::PackageCheck check;
    check.sha256 = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    check.size = 3;
    EXPECT_TRUE(LiveModule::VerifyPackage(package, check, ""));
    check.size = 4;
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, ""));
    check.size = -1;
    check.sha256[0] = 'c';
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, ""));
    EXPECT_FALSE(LiveModule::VerifyPackage(temp.path() + "none.zip", LiveModule::PackageCheck{"", 3, "", false}, ""));

    std::string bytes;
    EXPECT_TRUE(LiveModule::DecodeBase64("YWJj", bytes));
    EXPECT_EQ(bytes, "abc");
    EXPECT_TRUE(LiveModule::DecodeBase64("YQ", bytes));
    EXPECT_EQ(bytes, "a");
    EXPECT_FALSE(LiveModule::DecodeBase64("Y!==", bytes));
}

TEST(Win32PackageCheck, SignaturesByTheBuiltInKeyPassAndNothingElseDoes) {
    const TempDir temp;
    const std::string package = temp.path() + "m.zip";
    WriteFile(package, "abc");
    const std::string key = LMTEST_SIGNING_PUBLIC_KEY;
    LiveModule::PackageCheck check;
    check.signature = kSignedBySigningKey;
    EXPECT_TRUE(LiveModule::VerifyPackage(package, check, key));

    check.signature = kSignedByOtherKey;
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, key));
    check.signature.clear();
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, key));
    check.signature = kSignedBySigningKey;
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, key.substr(0, key.size() - 4)));

    WriteFile(package, "abd");
    EXPECT_FALSE(LiveModule::VerifyPackage(package, check, key));
}
