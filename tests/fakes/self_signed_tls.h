#pragma once

// A TLS server context for tests with a self-signed certificate of its own: trusted only by a
// client given that certificate (write_certificate), refused by the system's trust store.

#include <cstdio>
#include <string>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

namespace tarnvelox::testing {

// A self-signed certificate for "localhost", its key, and a server context using both.
class SelfSignedServerContext {
public:
    SelfSignedServerContext() {
        key_ = EVP_EC_gen("P-256");
        cert_ = X509_new();
        ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert_), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert_), 3600);
        X509_set_pubkey(cert_, key_);
        X509_NAME* name = X509_get_subject_name(cert_);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
        X509_set_issuer_name(cert_, name);
        add_extension(NID_subject_alt_name, "DNS:localhost");
        add_extension(NID_basic_constraints, "critical,CA:TRUE");
        X509_sign(cert_, key_, EVP_sha256());
        ctx_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(ctx_, cert_);
        SSL_CTX_use_PrivateKey(ctx_, key_);
    }
    ~SelfSignedServerContext() {
        SSL_CTX_free(ctx_);
        X509_free(cert_);
        EVP_PKEY_free(key_);
    }
    SelfSignedServerContext(const SelfSignedServerContext&) = delete;
    SelfSignedServerContext& operator=(const SelfSignedServerContext&) = delete;

    SSL_CTX* get() const { return ctx_; }
    // Writes the certificate as PEM to `path`; whether it worked.
    bool write_certificate(const std::string& path) const {
        FILE* file = std::fopen(path.c_str(), "w");
        if (file == nullptr) return false;
        bool ok = PEM_write_X509(file, cert_) == 1;
        return std::fclose(file) == 0 && ok;
    }

private:
    void add_extension(int nid, const char* value) {
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, cert_, cert_, nullptr, nullptr, 0);
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
        X509_add_ext(cert_, extension, -1);
        X509_EXTENSION_free(extension);
    }

    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
    SSL_CTX* ctx_ = nullptr;
};

}  // namespace tarnvelox::testing
