#include "tools/host_http/trust_anchors.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

#include "brelt/tls_filter.h"

namespace kestrun_host {

CURLcode use_default_trust_anchors(CURL*, void* ssl_context, void*) {
  X509_STORE* anchors = SSL_CTX_get_cert_store(brelt::TlsFilter::default_context());
  if (!anchors) return CURLE_SSL_CACERT_BADFILE;
  X509_STORE* store = X509_STORE_new();
  if (!store) return CURLE_OUT_OF_MEMORY;
  // A copy taken under the store's lock, so an anchor added meanwhile cannot tear it.
  STACK_OF(X509)* certificates = X509_STORE_get1_all_certs(anchors);
  bool ok = certificates != nullptr;
  for (int i = 0; ok && i < sk_X509_num(certificates); ++i) {
    ok = X509_STORE_add_cert(store, sk_X509_value(certificates, i)) == 1;
  }
  sk_X509_pop_free(certificates, X509_free);
  if (!ok) {
    X509_STORE_free(store);
    return CURLE_SSL_CACERT_BADFILE;
  }
  SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(ssl_context), store);  // takes the store, frees the old
  return CURLE_OK;
}

}  // namespace kestrun_host
