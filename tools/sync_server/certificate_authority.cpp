#include "tools/sync_server/certificate_authority.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace sync_server {

namespace {

constexpr long kDay = 24 * 60 * 60;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertificatePtr = std::unique_ptr<X509, CertificateFree>;
using BioPtr = std::unique_ptr<BIO, BioFree>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("server identity: ") + what);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  require(out.good(), "cannot write a certificate file");
}

void add_extension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  require(extension != nullptr, "extension");
  int added = X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
  require(added == 1, "extension");
}

// Self-signed when `issuer` is null.
CertificatePtr make_certificate(const char* common_name, bool authority, EVP_PKEY* key, X509* issuer,
                                EVP_PKEY* issuer_key, long lifetime) {
  CertificatePtr certificate(X509_new());
  require(certificate != nullptr, "allocation");
  X509* x = certificate.get();
  unsigned char serial[16];
  require(RAND_bytes(serial, sizeof(serial)) == 1, "serial");
  serial[0] &= 0x7f;  // positive
  std::unique_ptr<BIGNUM, decltype(&BN_free)> number(BN_bin2bn(serial, sizeof(serial), nullptr), &BN_free);
  require(number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(x)) != nullptr, "serial");
  require(X509_set_version(x, 2) == 1, "version");
  X509_gmtime_adj(X509_getm_notBefore(x), -kDay);
  X509_gmtime_adj(X509_getm_notAfter(x), lifetime);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("Kestrun local sync"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(common_name),
                             -1, -1, 0);
  require(X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name) == 1, "issuer");
  require(X509_set_pubkey(x, key) == 1, "public key");
  X509* signer = issuer ? issuer : x;
  add_extension(x, signer, NID_subject_key_identifier, "hash");
  add_extension(x, signer, NID_authority_key_identifier, "keyid:always");
  if (authority) {
    add_extension(x, signer, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_extension(x, signer, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(x, signer, NID_key_usage, "critical,digitalSignature");
    add_extension(x, signer, NID_ext_key_usage, "serverAuth");
    add_extension(x, signer, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
  }
  require(X509_sign(x, issuer ? issuer_key : key, EVP_sha256()) > 0, "signing");
  return certificate;
}

std::string pem_of(X509* certificate) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  require(bio && PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM");
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string pem_of(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  require(bio && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM");
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

CertificatePtr parse_certificate(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return CertificatePtr(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

KeyPtr parse_key(const std::string& pem) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  return KeyPtr(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
}

bool still_valid(X509* certificate) { return X509_cmp_current_time(X509_get0_notAfter(certificate)) > 0; }

}  // namespace

ServerIdentity load_or_make_identity(const std::string& directory) {
  const std::string authority_path = directory + "/authority.pem";
  const std::string authority_key_path = directory + "/authority-key.pem";
  const std::string server_path = directory + "/server.pem";
  const std::string server_key_path = directory + "/server-key.pem";

  CertificatePtr authority = parse_certificate(read_file(authority_path));
  KeyPtr authority_key = parse_key(read_file(authority_key_path));
  bool new_authority = !authority || !authority_key || !still_valid(authority.get());
  if (new_authority) {
    authority_key.reset(EVP_EC_gen("P-256"));
    require(authority_key != nullptr, "key generation");
    authority = make_certificate("Kestrun Local Sync Authority", true, authority_key.get(), nullptr, nullptr,
                                 10 * 365 * kDay);
    write_file(authority_key_path, pem_of(authority_key.get()));
    write_file(authority_path, pem_of(authority.get()));
  }

  CertificatePtr server = parse_certificate(read_file(server_path));
  KeyPtr server_key = parse_key(read_file(server_key_path));
  if (new_authority || !server || !server_key || !still_valid(server.get())) {
    server_key.reset(EVP_EC_gen("P-256"));
    require(server_key != nullptr, "key generation");
    server = make_certificate("localhost", false, server_key.get(), authority.get(), authority_key.get(),
                              365 * kDay);
    write_file(server_key_path, pem_of(server_key.get()));
    write_file(server_path, pem_of(server.get()));
  }

  ServerIdentity identity;
  identity.authority_pem = pem_of(authority.get());
  identity.certificate_pem = pem_of(server.get()) + identity.authority_pem;
  identity.key_pem = pem_of(server_key.get());
  return identity;
}

}  // namespace sync_server
