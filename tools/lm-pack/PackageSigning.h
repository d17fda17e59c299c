#pragma once

#include <string>

// What the catalogue says about a package's bytes, so the host can check what it downloaded, and
// the Ed25519 keys that sign packages.
namespace LiveModule::pack {

struct PackageFacts {
    std::string sha256;     // hex
    long long size = 0;     // bytes
    std::string signature;  // base64; empty when not signed
};

// Writes a new key pair: PREFIX.key (the private key, PEM, readable by the owner only) and
// PREFIX.pub (the public key, PEM, for LIVEMODULE_PACKAGE_PUBLIC_KEY_FILE). Existing files are
// never replaced. False, with the reason, on failure.
bool MakeKeyPair(const std::string& prefix, std::string& error);

// Size and SHA-256 of the file, and its signature by the private key in `keyFile` unless that is
// empty. False, with the reason, on failure.
bool DescribePackage(const std::string& zipPath, const std::string& keyFile, PackageFacts& facts, std::string& error);

}  // namespace LiveModule::pack
