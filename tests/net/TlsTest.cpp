#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include "NetTestSupport.h"
#include "net_request/HttpSession.h"

// Certificate and host name checks of a session against real TLS servers on loopback.
namespace {

// A key and a certificate that signed itself for `name` only (no other names), as PEM files.
void WriteSelfSignedFor(const std::string& name, const std::string& certPath, const std::string& keyPath) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 7);
    X509_gmtime_adj(X509_getm_notBefore(cert), -60);
    X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, subject);
    X509_set_pubkey(cert, key);
    X509_sign(cert, key, EVP_sha256());
    FILE* certFile = std::fopen(certPath.c_str(), "w");
    FILE* keyFile = std::fopen(keyPath.c_str(), "w");
    ASSERT_TRUE(certFile && keyFile);
    PEM_write_X509(certFile, cert);
    PEM_write_PrivateKey(keyFile, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(certFile);
    std::fclose(keyFile);
    X509_free(cert);
    EVP_PKEY_free(key);
}

// Serves /quick over TLS on 127.0.0.1 with the given certificate.
struct TlsServer {
    TlsServer(const std::string& cert, const std::string& key) : http(cert.c_str(), key.c_str()) {
        http.Get("/quick", [](auto&, auto& response) { response.set_content("quick", "text/plain"); });
        port = http.bind_to_any_port("127.0.0.1");
        listener = std::thread([this] { http.listen_after_bind(); });
    }
    ~TlsServer() { http.stop(); listener.join(); }
    httplib::SSLServer http;
    int port = 0;
    std::thread listener;
};

}  // namespace

TEST(TlsTrust, APeerIsTakenOnlyWhenChecksAreOffOrItsCertificateAndNameCheckOut) {
    NetFolder folder;
    const std::string keys = LMTEST_KEYS_DIR;
    WriteSelfSignedFor("elsewhere.invalid", folder / "other.crt", folder / "other.key");
    TlsServer named(keys + "/tls.crt", keys + "/tls.key");  // for localhost and 127.0.0.1
    TlsServer misnamed(folder / "other.crt", folder / "other.key");
    struct Case {
        const char* what;
        int port;
        bool verify;
        std::string bundle;
        bool taken;
    };
    HandlePool pool;  // one pool: every case after the first runs on a reused transfer
    for (const Case& c : std::vector<Case>{
             {"checks off", named.port, false, "", true},
             {"checks off, a bundle given", named.port, false, folder / "other.crt", true},
             {"the system's store does not know it", named.port, true, "", false},
             {"its certificate as the bundle", named.port, true, keys + "/tls.crt", true},
             {"another certificate as the bundle", named.port, true, folder / "other.crt", false},
             {"checks off, a certificate for another name", misnamed.port, false, "", true},
             {"trusted, but for another name", misnamed.port, true, folder / "other.crt", false},
             {"a bundle that does not exist", named.port, true, folder / "none.crt", false}}) {
        HttpSession session(pool);
        session.SetUrl("https://127.0.0.1:" + std::to_string(c.port) + "/quick");
        session.SetTimeoutMs(10000);
        session.SetTlsTrust(c.verify, c.bundle);
        const HttpResponse response = session.Get();
        EXPECT_EQ(response.error == 0 && response.status == 200 && response.body == "quick", c.taken)
            << c.what << ": error " << response.error << ", status " << response.status;
    }
}
