#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "brelt/tls_filter.h"
#include "brelt/trust_store.h"

namespace brelt {
namespace {

// The subject's common name, or its organisational unit where it has none.
std::string display_name(X509* certificate) {
  X509_NAME* subject = X509_get_subject_name(certificate);
  char text[256];
  if (X509_NAME_get_text_by_NID(subject, NID_commonName, text, sizeof(text)) > 0) return text;
  if (X509_NAME_get_text_by_NID(subject, NID_organizationalUnitName, text, sizeof(text)) > 0) return text;
  return "";
}

size_t count_blocks(const std::vector<unsigned char>& pem) {
  std::string text(pem.begin(), pem.end());
  size_t count = 0;
  for (size_t at = text.find("-----BEGIN CERTIFICATE-----\n"); at != std::string::npos;
       at = text.find("-----BEGIN CERTIFICATE-----\n", at + 1)) {
    ++count;
  }
  return count;
}

TEST(TrustStoreTest, EveryCarriedCertificateLoadsInOrder) {
  std::vector<X509Ptr> roots = built_in_root_certificates();
  std::vector<std::string> names;
  for (const X509Ptr& root : roots) names.push_back(display_name(root.get()));
  EXPECT_EQ(names, (std::vector<std::string>{
                       "Class 3 Public Primary Certification Authority",
                       "DigiCert Assured ID Root CA",
                       "DigiCert Global Root CA",
                       "DigiCert High Assurance EV Root CA",
                       "Entrust Root Certification Authority - EC1",
                       "Entrust Root Certification Authority - G2",
                       "Entrust Root Certification Authority",
                       "Entrust.net Certification Authority (2048)",
                       "GeoTrust Global CA",
                       "GeoTrust Primary Certification Authority - G2",
                       "GeoTrust Primary Certification Authority - G3",
                       "GeoTrust Primary Certification Authority",
                       "Go Daddy Class 2 Certification Authority",
                       "Go Daddy Root Certificate Authority - G2",
                       "Thawte Premium Server CA",
                       "thawte Primary Root CA - G2",
                       "thawte Primary Root CA - G3",
                       "thawte Primary Root CA",
                   }));
  // The extra root is VeriSign's original of 1996, not one of its later re-signed namesakes.
  EXPECT_EQ(count_blocks(TlsFilter::extra_root_pem), 1u);
  ASSERT_FALSE(roots.empty());
  EXPECT_EQ(X509_get_signature_nid(roots.front().get()), NID_md2WithRSAEncryption);
  // No block of the text was lost to a parse failure.
  EXPECT_EQ(roots.size(), count_blocks(TlsFilter::extra_root_pem) + count_blocks(TlsFilter::root_bundle_pem));
}

TEST(TrustStoreTest, TextIsBarePemBlocksWithShortLines) {
  for (const auto* pem : {&TlsFilter::extra_root_pem, &TlsFilter::root_bundle_pem}) {
    std::string text(pem->begin(), pem->end());
    if (text.empty()) continue;
    EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\0'), std::string::npos);
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
      EXPECT_LE(end - start, 64u) << text.substr(start, end - start);
      EXPECT_NE(end, start) << "blank line";
    }
  }
}

TEST(TrustStoreTest, DefaultContextTrustsEveryBuiltInRoot) {
  X509_STORE* store = SSL_CTX_get_cert_store(TlsFilter::default_context());
  STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
  for (const X509Ptr& root : built_in_root_certificates()) {
    bool found = false;
    for (int i = 0; i < sk_X509_OBJECT_num(objects) && !found; ++i) {
      X509* candidate = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i));
      found = candidate && X509_cmp(candidate, root.get()) == 0;
    }
    EXPECT_TRUE(found) << display_name(root.get());
  }
  EXPECT_EQ(TlsFilter::default_context(), TlsFilter::default_context(nullptr));
  EXPECT_EQ(SSL_CTX_get_min_proto_version(TlsFilter::default_context()), TLS1_2_VERSION);
  EXPECT_EQ(SSL_CTX_get_max_proto_version(TlsFilter::default_context()), TLS1_2_VERSION);
  EXPECT_EQ(SSL_CTX_get_security_level(TlsFilter::default_context()), 1);
}

}  // namespace
}  // namespace brelt
