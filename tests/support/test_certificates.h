// Certificates for TLS tests, generated in the test process (committed certificates would expire).
// Every key is an EC P-256 key; every leaf certificate is for "localhost" unless it says otherwise.
#pragma once

#include <string>
#include <vector>

#include "brelt/trust_store.h"

namespace kestrun_test {

struct KeyedCertificate {
  std::string certificate_pem;
  std::string key_pem;
};

struct TestCertificates {
  KeyedCertificate authority;          // the test certification authority
  KeyedCertificate localhost;          // issued by the authority
  KeyedCertificate expired;            // issued by the authority, expired yesterday
  KeyedCertificate other_host;         // issued by the authority for "other.example"
  KeyedCertificate self_signed;        // its own issuer
  KeyedCertificate unknown_authority;  // issued by an authority nobody trusts
  KeyedCertificate common_name_only;   // issued by the authority, "localhost" only as common name
};

// Generated once per process, on first use.
const TestCertificates& test_certificates();

// One subjectAltName entry: a DNS name (its raw bytes, at their length) or an IPv4 address.
struct AltName {
  enum Kind { kDns, kIp } kind;
  std::string text;
};

// A self-signed certificate carrying exactly these subjectAltName entries (none at all when the
// list is empty: the certificate then has no subjectAltName extension) and `common_name`.
brelt::X509Ptr certificate_with_alt_names(const std::vector<AltName>& names,
                                          const std::string& common_name = "localhost");

brelt::X509Ptr parse_certificate(const std::string& pem);

}  // namespace kestrun_test
