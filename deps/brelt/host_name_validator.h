// Certificate checks an owner hands to a TlsFilter; each answers whether a server certificate is
// acceptable for the connection.
#pragma once

#include <openssl/x509.h>

#include <string>
#include <string_view>
#include <vector>

namespace brelt {

// Accepts a certificate whose subjectAltName names `host`. Only DNS entries count (never the
// subject's common name, never IP entries). Names compare without regard to ASCII case. A wildcard
// stands for exactly one whole left-most label and only in a name of at least three labels: "*.b.c"
// covers "a.b.c" but not "b.c" or "x.a.b.c"; "*.com", a lone "*" and partial labels such as "x*.b.c"
// match nothing.
struct HostnameValidator {
  std::string host;

  bool operator()(X509* certificate) const;
};

// Whether one subjectAltName DNS entry covers `host`, by the rules above.
bool host_name_matches(std::string_view entry, std::string_view host);

// Accepts exactly one certificate, given by its DER encoding.
struct PinningValidator {
  std::vector<unsigned char> expected;

  bool operator()(X509* certificate) const;
};

}  // namespace brelt
