// Symbolic names for OpenSSL's numeric results, used as the tags of TLS and certificate errors.
#pragma once

namespace brelt {

// The constant name of a chain verification result (`SSL_get_verify_result`): "X509_V_OK" for 0,
// OpenSSL's name for 2 to 32 and 50, "UNKNOWN" for anything else.
const char* verify_result_name(long result);

// The constant name of an `SSL_get_error` value 0 to 8, "UNKNOWN" for anything else.
const char* ssl_error_name(int code);

}  // namespace brelt
