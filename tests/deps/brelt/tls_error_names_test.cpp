#include "brelt/tls_error_names.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <string>

namespace brelt {
namespace {

TEST(TlsErrorNamesTest, VerifyResultsAndSslErrorsHaveOpenSslNames) {
  struct Case {
    long result;
    const char* name;
  } verify_cases[] = {
      {X509_V_OK, "X509_V_OK"},
      {1, "UNKNOWN"},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT"},
      {X509_V_ERR_CERT_HAS_EXPIRED, "X509_V_ERR_CERT_HAS_EXPIRED"},
      {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, "X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT"},
      {X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, "X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN"},
      {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, "X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY"},
      {X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE, "X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE"},
      {X509_V_ERR_NO_ISSUER_PUBLIC_KEY, "X509_V_ERR_NO_ISSUER_PUBLIC_KEY"},
      {X509_V_ERR_KEYUSAGE_NO_CERTSIGN, "X509_V_ERR_KEYUSAGE_NO_CERTSIGN"},
      {33, "UNKNOWN"},
      {X509_V_ERR_APPLICATION_VERIFICATION, "X509_V_ERR_APPLICATION_VERIFICATION"},
      {X509_V_ERR_EE_KEY_TOO_SMALL, "UNKNOWN"},
      {-1, "UNKNOWN"},
  };
  for (const Case& c : verify_cases) EXPECT_STREQ(verify_result_name(c.result), c.name) << c.result;

  EXPECT_STREQ(ssl_error_name(SSL_ERROR_NONE), "SSL_ERROR_NONE");
  EXPECT_STREQ(ssl_error_name(SSL_ERROR_SSL), "SSL_ERROR_SSL");
  EXPECT_STREQ(ssl_error_name(SSL_ERROR_SYSCALL), "SSL_ERROR_SYSCALL");
  EXPECT_STREQ(ssl_error_name(SSL_ERROR_WANT_ACCEPT), "SSL_ERROR_WANT_ACCEPT");
  EXPECT_STREQ(ssl_error_name(SSL_ERROR_WANT_ASYNC), "UNKNOWN");
  EXPECT_STREQ(ssl_error_name(-1), "UNKNOWN");
}

}  // namespace
}  // namespace brelt
