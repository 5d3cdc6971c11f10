// The certificates the hooks trust: exactly the trust anchors of the network library's default
// TLS context (its built-in roots, plus whatever a test program added there), never the system's
// CA files, so both paths to the servers trust the same authorities.
#pragma once

#include <curl/curl.h>

namespace kestrun_host {

// A CURLOPT_SSL_CTX_FUNCTION: replaces the certificate store of the connection's OpenSSL context
// by a store holding the default context's anchors. libcurl calls it after loading its own CA
// settings, so nothing else stays trusted.
CURLcode use_default_trust_anchors(CURL* easy, void* ssl_context, void* unused);

}  // namespace kestrun_host
