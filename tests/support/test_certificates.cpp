#include "test_certificates.h"

#include <arpa/inet.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace kestrun_test {

namespace {

constexpr long kDay = 24 * 60 * 60;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

void require(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

KeyPtr new_key() {
  KeyPtr key(EVP_EC_gen("P-256"));
  require(key != nullptr, "key generation");
  return key;
}

void add_extension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  require(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

struct Blueprint {
  std::string common_name;
  bool authority = false;
  std::string alt_names;  // in OpenSSL's configuration syntax, empty for none
  long valid_from = -kDay;
  long valid_until = 30 * kDay;
};

// Issued by (issuer, issuer_key), or self-signed when issuer is null.
brelt::X509Ptr make_certificate(const Blueprint& blueprint, EVP_PKEY* key, X509* issuer,
                                EVP_PKEY* issuer_key) {
  static long serial = 1;
  brelt::X509Ptr certificate(X509_new());
  require(certificate != nullptr, "allocation");
  X509* x = certificate.get();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
  X509_gmtime_adj(X509_getm_notBefore(x), blueprint.valid_from);
  X509_gmtime_adj(X509_getm_notAfter(x), blueprint.valid_until);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Kestrun tests"),
                             -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(blueprint.common_name.c_str()), -1, -1,
                             0);
  X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(x, key);
  X509* signer = issuer ? issuer : x;
  add_extension(x, signer, NID_subject_key_identifier, "hash");
  add_extension(x, signer, NID_authority_key_identifier, "keyid:always");
  if (blueprint.authority) {
    add_extension(x, signer, NID_basic_constraints, "critical,CA:TRUE");
    add_extension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    add_extension(x, signer, NID_basic_constraints, "critical,CA:FALSE");
    add_extension(x, signer, NID_key_usage, "critical,digitalSignature");
    add_extension(x, signer, NID_ext_key_usage, "serverAuth");
  }
  if (!blueprint.alt_names.empty())
    add_extension(x, signer, NID_subject_alt_name, blueprint.alt_names.c_str());
  require(X509_sign(x, issuer ? issuer_key : key, EVP_sha256()) > 0, "signing");
  return certificate;
}

std::string certificate_pem(X509* certificate) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_X509(bio.get(), certificate);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

std::string key_pem(EVP_PKEY* key) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(length));
}

KeyedCertificate keyed(X509* certificate, EVP_PKEY* key) {
  return {certificate_pem(certificate), key_pem(key)};
}

TestCertificates generate() {
  TestCertificates result;
  KeyPtr authority_key = new_key();
  brelt::X509Ptr authority = make_certificate({"Kestrun Test Authority", true, "", -kDay, 365 * kDay},
                                              authority_key.get(), nullptr, nullptr);
  result.authority = keyed(authority.get(), authority_key.get());

  auto leaf = [&](const Blueprint& blueprint, X509* issuer, EVP_PKEY* issuer_key) {
    KeyPtr key = new_key();
    brelt::X509Ptr certificate = make_certificate(blueprint, key.get(), issuer, issuer_key);
    return keyed(certificate.get(), key.get());
  };
  result.localhost = leaf({"localhost", false, "DNS:localhost"}, authority.get(), authority_key.get());
  result.expired =
      leaf({"localhost", false, "DNS:localhost", -10 * kDay, -kDay}, authority.get(), authority_key.get());
  result.other_host =
      leaf({"other.example", false, "DNS:other.example"}, authority.get(), authority_key.get());
  result.self_signed = leaf({"localhost", false, "DNS:localhost"}, nullptr, nullptr);
  result.common_name_only = leaf({"localhost", false, ""}, authority.get(), authority_key.get());

  KeyPtr stranger_key = new_key();
  brelt::X509Ptr stranger = make_certificate({"Unknown Test Authority", true, "", -kDay, 365 * kDay},
                                             stranger_key.get(), nullptr, nullptr);
  result.unknown_authority = leaf({"localhost", false, "DNS:localhost"}, stranger.get(), stranger_key.get());
  return result;
}

}  // namespace

const TestCertificates& test_certificates() {
  static const TestCertificates certificates = generate();
  return certificates;
}

brelt::X509Ptr certificate_with_alt_names(const std::vector<AltName>& names, const std::string& common_name) {
  static const KeyPtr key = new_key();
  brelt::X509Ptr certificate = make_certificate({common_name, false, ""}, key.get(), nullptr, nullptr);
  if (names.empty()) return certificate;
  GENERAL_NAMES* entries = sk_GENERAL_NAME_new_null();
  for (const AltName& name : names) {
    GENERAL_NAME* entry = GENERAL_NAME_new();
    if (name.kind == AltName::kDns) {
      ASN1_IA5STRING* text = ASN1_IA5STRING_new();
      ASN1_STRING_set(text, name.text.data(), static_cast<int>(name.text.size()));
      GENERAL_NAME_set0_value(entry, GEN_DNS, text);
    } else {
      unsigned char address[4];
      require(inet_pton(AF_INET, name.text.c_str(), address) == 1, "IP address");
      ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
      ASN1_OCTET_STRING_set(octets, address, sizeof(address));
      GENERAL_NAME_set0_value(entry, GEN_IPADD, octets);
    }
    sk_GENERAL_NAME_push(entries, entry);
  }
  X509_add1_ext_i2d(certificate.get(), NID_subject_alt_name, entries, 0, X509V3_ADD_DEFAULT);
  GENERAL_NAMES_free(entries);
  return certificate;
}

brelt::X509Ptr parse_certificate(const std::string& pem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                &BIO_free);
  return brelt::X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

}  // namespace kestrun_test
