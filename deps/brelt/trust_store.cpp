#include "brelt/trust_store.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include "brelt/tls_filter.h"

namespace brelt {

std::vector<X509Ptr> built_in_root_certificates() {
  std::vector<X509Ptr> certificates;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  if (!bio) return certificates;
  for (const auto* text : {&TlsFilter::extra_root_pem, &TlsFilter::root_bundle_pem}) {
    if (!text->empty()) BIO_write(bio.get(), text->data(), static_cast<int>(text->size()));
  }
  while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
    certificates.emplace_back(certificate);
  }
  // Running out of blocks leaves a "no start line" error queued; it is no failure of ours.
  ERR_clear_error();
  return certificates;
}

}  // namespace brelt
