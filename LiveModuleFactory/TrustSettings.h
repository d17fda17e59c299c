#pragma once

// What a deployment trusts, fixed when the factory library is built (see the README's build
// options): the key every package must be signed with, and whether HTTPS peers are verified.
namespace LiveModule {

struct TrustSettings {
    // Base64 of the DER SubjectPublicKeyInfo of an Ed25519 key; empty when packages are not signed.
    const char* packagePublicKey;
    bool verifyUpdaterTls;  // certificate and host name of the catalogue and package servers
    bool verifyModuleTls;   // the same for the requests modules make through net_request
    const char* caBundle;   // PEM file of trusted certificates; empty for the system's store
};

// The settings this library was built with.
const TrustSettings& BuiltTrustSettings();

}  // namespace LiveModule
