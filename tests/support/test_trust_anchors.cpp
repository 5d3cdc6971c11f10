#include "test_trust_anchors.h"

#include <mutex>

#include "brelt/tls_filter.h"
#include "test_certificates.h"

namespace kestrun_test {

void trust_test_authority() {
  static std::once_flag once;
  std::call_once(once, [] { trust_authority_pem(test_certificates().authority.certificate_pem); });
}

void trust_authority_pem(const std::string& pem) {
  brelt::X509Ptr authority = parse_certificate(pem);
  X509_STORE_add_cert(SSL_CTX_get_cert_store(brelt::TlsFilter::default_context()), authority.get());
}

}  // namespace kestrun_test
