#include "brelt/tls_error_names.h"

#include <iterator>

namespace brelt {

namespace {

// Indexed by the result; 1 is left unnamed, as are the results after 32 other than 50.
constexpr const char* kVerifyResultNames[] = {
    "X509_V_OK",
    nullptr,
    "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT",
    "X509_V_ERR_UNABLE_TO_GET_CRL",
    "X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE",
    "X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE",
    "X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY",
    "X509_V_ERR_CERT_SIGNATURE_FAILURE",
    "X509_V_ERR_CRL_SIGNATURE_FAILURE",
    "X509_V_ERR_CERT_NOT_YET_VALID",
    "X509_V_ERR_CERT_HAS_EXPIRED",
    "X509_V_ERR_CRL_NOT_YET_VALID",
    "X509_V_ERR_CRL_HAS_EXPIRED",
    "X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD",
    "X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD",
    "X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD",
    "X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD",
    "X509_V_ERR_OUT_OF_MEM",
    "X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT",
    "X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN",
    "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY",
    "X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE",
    "X509_V_ERR_CERT_CHAIN_TOO_LONG",
    "X509_V_ERR_CERT_REVOKED",
    "X509_V_ERR_NO_ISSUER_PUBLIC_KEY",
    "X509_V_ERR_PATH_LENGTH_EXCEEDED",
    "X509_V_ERR_INVALID_PURPOSE",
    "X509_V_ERR_CERT_UNTRUSTED",
    "X509_V_ERR_CERT_REJECTED",
    "X509_V_ERR_SUBJECT_ISSUER_MISMATCH",
    "X509_V_ERR_AKID_SKID_MISMATCH",
    "X509_V_ERR_AKID_ISSUER_SERIAL_MISMATCH",
    "X509_V_ERR_KEYUSAGE_NO_CERTSIGN",
};

constexpr const char* kSslErrorNames[] = {
    "SSL_ERROR_NONE",
    "SSL_ERROR_SSL",
    "SSL_ERROR_WANT_READ",
    "SSL_ERROR_WANT_WRITE",
    "SSL_ERROR_WANT_X509_LOOKUP",
    "SSL_ERROR_SYSCALL",
    "SSL_ERROR_ZERO_RETURN",
    "SSL_ERROR_WANT_CONNECT",
    "SSL_ERROR_WANT_ACCEPT",
};

}  // namespace

const char* verify_result_name(long result) {
  if (result == 50) return "X509_V_ERR_APPLICATION_VERIFICATION";
  if (result < 0 || result >= static_cast<long>(std::size(kVerifyResultNames))) return "UNKNOWN";
  const char* name = kVerifyResultNames[result];
  return name ? name : "UNKNOWN";
}

const char* ssl_error_name(int code) {
  if (code < 0 || code >= static_cast<int>(std::size(kSslErrorNames))) return "UNKNOWN";
  return kSslErrorNames[code];
}

}  // namespace brelt
