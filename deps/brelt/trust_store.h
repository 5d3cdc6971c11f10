// The built-in trust store: the only trust anchors of every TLS connection the library makes. The
// operating system's trust settings and certificate files are never consulted.
#pragma once

#include <openssl/x509.h>

#include <memory>
#include <vector>

namespace brelt {

struct X509Free {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

// The certificates carried as PEM text, in load order: the extra root first, then the bundle.
// Reading stops at the first block that does not parse; those read before it are kept.
std::vector<X509Ptr> built_in_root_certificates();

}  // namespace brelt
